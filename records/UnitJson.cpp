#include "records/UnitJson.h"

#include "records/CountFields.h"

namespace brintel::records {

nlohmann::ordered_json UnitJson(const UnitRecord& r) {
  nlohmann::ordered_json fields = {{"id", r.id},
                                   {"channel", r.channel},
                                   {"port", r.port},
                                   {"started_at", r.startedAt},
                                   {"ended_at", r.endedAt},
                                   {"device_id", r.deviceId},
                                   {"transfer_device_id", r.transferDeviceId},
                                   {"program", r.program},
                                   {"title", r.title},
                                   {"list_url", r.listUrl},
                                   {"outcome", r.outcome},
                                   {"offered", r.offered}};
  for (const CountField& field : kCountFields) {
    fields[field.name] = CountValue(r.counts, field);
  }
  fields["version"] = r.version;
  fields["detail"] = r.detail;
  fields["station"] = r.station;
  return fields;
}

std::string JsonLine(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string EncodeOffered(const std::vector<std::string>& offered) {
  if (offered.empty()) {
    return {};
  }
  return nlohmann::json(offered).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::vector<std::string> DecodeOffered(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const auto json = nlohmann::json::parse(text, nullptr, false);
  if (!json.is_array()) {
    return {text};  // edited by hand: keep what is there
  }
  std::vector<std::string> names;
  for (const auto& name : json) {
    names.push_back(name.is_string() ? name.get<std::string>() : name.dump());
  }
  return names;
}

}  // namespace brintel::records
