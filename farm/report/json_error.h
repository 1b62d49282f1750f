// The error object of every JSON document the companion prints: {"exit_code":N,"message":"..."}.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

inline nlohmann::ordered_json ErrorObject(int exit_code, std::string utf8_message) {
    nlohmann::ordered_json error;
    error["exit_code"] = exit_code;
    error["message"] = std::move(utf8_message);
    return error;
}
