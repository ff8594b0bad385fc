#include "winsim/sim_comdb.h"

namespace winsim {

using namespace orv;

namespace {

constexpr std::u16string_view kComDatabaseKey =
    u"SYSTEM\\CurrentControlSet\\Control\\COM Name Arbiter";

}  // namespace

DWORD SimComDb::Check(HCOMDB database, const Call& call) {
  return databases_.count(reinterpret_cast<std::uintptr_t>(database)) == 0
             ? ERROR_INVALID_PARAMETER
             : sim_.faults.For(call).value_or(ERROR_SUCCESS);
}

LONG SimComDb::ComDBOpen(HCOMDB* database) {
  const Call call{"ComDBOpen", {}};
  const DWORD status =
      database == nullptr ? ERROR_INVALID_PARAMETER : sim_.faults.For(call).value_or(ERROR_SUCCESS);
  if (status != ERROR_SUCCESS) {
    if (database != nullptr) {
      *database = INVALID_HANDLE_VALUE;
    }
    return sim_.tracer.EndStatus(call, status);
  }
  const std::uintptr_t handle = sim_.handles.New();
  databases_.insert(handle);
  *database = reinterpret_cast<HCOMDB>(handle);
  return sim_.tracer.EndStatus(call, ERROR_SUCCESS, sim_.tracer.HandleText("comdb", *database));
}

LONG SimComDb::ComDBReleasePort(HCOMDB database, DWORD comNumber) {
  const Call call{"ComDBReleasePort",
                  {sim_.tracer.HandleArg("comdb", database), DecimalArg(comNumber)}};
  DWORD status = Check(database, call);
  // A database that is missing holds no number, so every number lies beyond it.
  RegKey* key = Registry::Open(sim_.machine.registry().HKLM(), kComDatabaseKey);
  const RegValue* bitmap = key == nullptr ? nullptr : key->FindValue(u"ComDB");
  const std::size_t bits = bitmap == nullptr ? 0 : bitmap->data().size() * 8;
  if (status == ERROR_SUCCESS && (comNumber == 0 || comNumber > bits)) {
    status = ERROR_INVALID_PARAMETER;
  }
  if (status == ERROR_SUCCESS) {
    const std::size_t byte = (comNumber - 1) / 8;
    const auto mask = static_cast<std::uint8_t>(1u << ((comNumber - 1) % 8));
    if ((bitmap->data()[byte] & mask) != 0) {
      key->EditValueData(u"ComDB", [&](std::span<std::uint8_t> data) {
        data[byte] = static_cast<std::uint8_t>(data[byte] & ~mask);
      });
    }
  }
  return sim_.tracer.EndStatus(call, status);
}

LONG SimComDb::ComDBClose(HCOMDB database) {
  const Call call{"ComDBClose", {sim_.tracer.HandleArg("comdb", database)}};
  const DWORD status = Check(database, call);
  if (status == ERROR_SUCCESS) {
    databases_.erase(reinterpret_cast<std::uintptr_t>(database));
  }
  return sim_.tracer.EndStatus(call, status);
}

}  // namespace winsim
