#include "core/publish/mqtt_check.h"

#include <mosquitto.h>

#include <optional>

#include "core/i18n/language_dictionary.h"
#include "core/i18n/window_texts.h"
#include "core/publish/mqtt_client.h"

namespace norvane::publish {
namespace {

constexpr int kKeepAliveSeconds = 30;

void OnConnect(mosquitto*, void* answer, int rc) { *static_cast<std::optional<int>*>(answer) = rc; }

}  // namespace

MqttCheck CheckMqttBroker(const MqttTarget& target, const std::string& ca_file, std::chrono::milliseconds timeout) {
  mosquitto_lib_init();
  std::optional<int> answer;
  mosquitto* client = mosquitto_new(nullptr, true, &answer);
  if (!client) return {false, EnglishText(kTextMqttNoClient)};
  MqttCheck result;
  mosquitto_connect_callback_set(client, &OnConnect);
  int rc = ApplyMqttTarget(client, target, ca_file);
  if (rc != MOSQ_ERR_SUCCESS) result.text = EnglishText(kTextMqttBadCaFile, {ca_file, MqttReason(rc)});
  if (result.text.empty()) {
    rc = mosquitto_connect(client, target.host.c_str(), target.port, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
      result.text = EnglishText(kTextMqttNothingAnswers, {target.Where(), MqttReason(rc)});
    } else {
      const auto deadline = std::chrono::steady_clock::now() + timeout;
      while (!answer && rc == MOSQ_ERR_SUCCESS && std::chrono::steady_clock::now() < deadline)
        rc = mosquitto_loop(client, 100, 1);
      if (answer && *answer == 0) {
        result = {true, EnglishText(kTextMqttConnected, {target.Where()})};
      } else if (answer) {
        result.text = EnglishText(kTextMqttRefused, {target.Where(), mosquitto_connack_string(*answer)});
      } else if (rc != MOSQ_ERR_SUCCESS) {
        result.text = EnglishText(kTextMqttFailed, {target.Where(), MqttReason(rc)});
      } else {
        result.text = EnglishText(kTextMqttNoAnswerInTime, {target.Where()});
      }
      mosquitto_disconnect(client);
    }
  }
  mosquitto_destroy(client);
  return result;
}

}  // namespace norvane::publish
