// Checks a JSON value against the board log's schema (docs/board-log.schema.json). It
// knows the part of JSON Schema that file uses: type, required, properties,
// additionalProperties false, pattern, enum, minimum and maximum.
#pragma once

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

namespace quillon::cli::testing {

using nlohmann::json;

inline json LoadSchema() {
    std::ifstream in(QUILLON_LOG_SCHEMA);
    return json::parse(in);
}

// Every way `value` breaks `schema`, each with where ("adapter.usb: ..."); empty when none.
inline void SchemaFaults(const json& schema, const json& value, const std::string& where,
                         std::vector<std::string>& faults) {
    auto fault = [&](const std::string& what) { faults.push_back(where + ": " + what); };
    if (schema.contains("type")) {
        const std::string type = schema["type"];
        const bool ok = type == "object"    ? value.is_object()
                        : type == "string"  ? value.is_string()
                        : type == "integer" ? value.is_number_integer()
                        : type == "number"  ? value.is_number()
                        : type == "boolean" ? value.is_boolean()
                                            : false;
        if (!ok) return fault("not of type " + type + ": " + value.dump());
    }
    if (schema.contains("enum") &&
        std::find(schema["enum"].begin(), schema["enum"].end(), value) == schema["enum"].end())
        fault("not one of the listed values: " + value.dump());
    if (schema.contains("pattern") &&
        !std::regex_search(value.get<std::string>(),
                           std::regex(schema["pattern"].get<std::string>())))
        fault("does not match " + schema["pattern"].get<std::string>() + ": " + value.dump());
    if (schema.contains("minimum") && value < schema["minimum"]) fault("below the minimum");
    if (schema.contains("maximum") && value > schema["maximum"]) fault("above the maximum");
    if (!value.is_object()) return;
    for (const auto& key : schema.value("required", json::array()))
        if (!value.contains(key.get<std::string>())) fault("missing " + key.get<std::string>());
    const json properties = schema.value("properties", json::object());
    for (const auto& [key, item] : value.items()) {
        if (properties.contains(key))
            SchemaFaults(properties[key], item, where.empty() ? key : where + "." + key, faults);
        else if (schema.value("additionalProperties", true) == false)
            fault("unknown key " + key);
    }
}

inline std::vector<std::string> SchemaFaults(const json& schema, const std::string& line) {
    std::vector<std::string> faults;
    const json value = json::parse(line, nullptr, false);
    if (value.is_discarded()) return {"not JSON: " + line};
    SchemaFaults(schema, value, "", faults);
    return faults;
}

}  // namespace quillon::cli::testing
