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
  return fields;
}

std::string JsonLine(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace brintel::records
