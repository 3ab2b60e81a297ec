#include "core/net/http_post.h"

#include <curl/curl.h>

#include <mutex>
#include <string_view>

namespace norvane {
namespace {

// curl_global_init is not thread-safe; the first request does it once.
void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t CollectBody(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// Keeps the reason phrase of the last status line ("HTTP/1.1 200 OK"), so a "100 Continue"
// before the answer does not count.
size_t CollectStatusLine(char* data, size_t size, size_t count, void* user) {
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    std::string& reason = *static_cast<std::string*>(user);
    reason.clear();
    const size_t code = line.find(' ');
    if (code != std::string_view::npos) {
      const size_t text = line.find(' ', code + 1);
      if (text != std::string_view::npos) reason = std::string(line.substr(text + 1));
    }
  }
  return size * count;
}

}  // namespace

HttpAnswer SendHttp(const HttpRequest& request) {
  InitialiseCurlOnce();
  HttpAnswer answer;
  CURL* curl = curl_easy_init();
  if (!curl) {
    answer.error = "The HTTP library could not start a request.";
    return answer;
  }
  char error[CURL_ERROR_SIZE] = {};
  curl_slist* headers = nullptr;
  for (const std::string& header : request.headers) headers = curl_slist_append(headers, header.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  if (request.method == "POST") {
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(request.body.size()));
  }
  if (headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, static_cast<long>(request.timeout.count()));
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, CollectStatusLine);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.status_text);

  const CURLcode result = curl_easy_perform(curl);
  if (result == CURLE_OK) {
    answer.delivered = true;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  } else {
    answer.error = error[0] ? error : curl_easy_strerror(result);
  }
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return answer;
}

HttpAnswer PostMapRequest(const std::string& url, std::chrono::seconds timeout) {
  return SendHttp({"POST", url, {kMapContentType}, kMapRequestBody, timeout});
}

}  // namespace norvane
