#include "core/publish/mqtt_client.h"

#include <mosquitto.h>

#include <cerrno>
#include <cstring>

#include "core/platform/system_error.h"

namespace norvane::publish {

int ApplyMqttTarget(mosquitto* client, const MqttTarget& target, const std::string& ca_file) {
  if (!target.user.empty())
    mosquitto_username_pw_set(client, target.user.c_str(), target.password.empty() ? nullptr : target.password.c_str());
  if (!target.tls) return MOSQ_ERR_SUCCESS;
  return ca_file.empty() ? mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                         : mosquitto_tls_set(client, ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
}

std::string MqttReason(int rc) {
  std::string reason = rc == MOSQ_ERR_ERRNO ? SystemErrorText(errno) : mosquitto_strerror(rc);
  if (reason.ends_with('.')) reason.pop_back();
  return reason;
}

}  // namespace norvane::publish
