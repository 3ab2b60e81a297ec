// What every MQTT client of the program sets up alike on a libmosquitto client.
#pragma once

#include <string>

#include "core/publish/mqtt_url.h"

struct mosquitto;

namespace norvane::publish {

// Gives `client` the target's login and, for mqtts://, TLS with `ca_file` or else the system's
// certificates. libmosquitto's result: MOSQ_ERR_SUCCESS when all was taken.
int ApplyMqttTarget(mosquitto* client, const MqttTarget& target, const std::string& ca_file);

// libmosquitto's reason for the result `rc` (the system's for MOSQ_ERR_ERRNO), without its
// closing full stop, to sit inside a sentence.
std::string MqttReason(int rc);

}  // namespace norvane::publish
