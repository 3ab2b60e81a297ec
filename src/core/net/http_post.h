// Blocking HTTP requests over libcurl: the web map's form post and the public maps' uploads.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace norvane {

inline constexpr char kMapRequestBody[] = "<RequestStockPrice Symbol=''/>";
inline constexpr char kMapContentType[] = "Content-Type: application/x-www-form-urlencoded";

struct HttpAnswer {
  bool delivered = false;  // an HTTP answer came back at all
  long status = 0;
  std::string status_text;  // the reason phrase of the status line, e.g. "OK"
  std::string body;
  std::string error;  // the transport's description when nothing came back

  // What the service calls success: the reason "OK" or the code 200.
  bool accepted() const { return delivered && (status_text == "OK" || status == 200); }
};

// One request as the public maps take it: GET without a body, else POST of `body`.
struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::vector<std::string> headers;  // "Name: value"
  std::string body;
  std::chrono::seconds timeout{30};
};

// Sends `request`; never throws. Any answer, whatever its status, counts as delivered.
HttpAnswer SendHttp(const HttpRequest& request);

// POSTs the form body to `url` without credentials; never throws. The timeout keeps a dead
// server from holding a worker for ever.
HttpAnswer PostMapRequest(const std::string& url, std::chrono::seconds timeout = std::chrono::seconds(60));

}  // namespace norvane
