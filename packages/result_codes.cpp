#include "packages/result_codes.h"

namespace orv {

namespace {

struct StatusResult {
  DWORD status;
  DWORD result;
};

// Every status the tool knows, matched on the whole 32-bit value; anything else gives 11.
constexpr StatusResult kResultCodes[] = {
    {ERROR_SUCCESS, 0},
    {ERROR_INVALID_FUNCTION, 10},
    {ERROR_FILE_NOT_FOUND, 3},
    {ERROR_OUTOFMEMORY, 4},
    {ERROR_SHARING_VIOLATION, 53},
    {ERROR_INVALID_PARAMETER, 10},
    {ERROR_INVALID_NAME, 3},
    {ERROR_ALREADY_EXISTS, 2},
    {ERROR_FILENAME_EXCED_RANGE, 51},
    {ERROR_NO_MORE_ITEMS, 0},
    {ERROR_CANCELLED, 3},
    {ERROR_INSTALL_FAILURE, 1},
    {ERROR_CANT_ACCESS_FILE, 52},
    {CRYPT_E_FILE_ERROR, 0},
    {TRUST_E_NOSIGNATURE, 0},
    {CERT_E_EXPIRED, 0},
    {CERT_E_UNTRUSTEDROOT, 0},
    {CERT_E_WRONG_USAGE, 0},
    {ERROR_NO_SUCH_DEVINST, 0},
    {ERROR_BAD_SERVICE_INSTALLSECT, 3},
    {ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH, 0},
    {ERROR_DEPENDENT_APPLICATIONS_EXIST, 2},
    {ERROR_NO_DEVICE_ID, 0},
    {ERROR_DRIVER_PACKAGE_NOT_IN_STORE, 3},
    {ERROR_MISSING_FILE, 5},
    {ERROR_INVALID_CATALOG_DATA, 0},
};
static_assert(sizeof kResultCodes / sizeof kResultCodes[0] == 26);

constexpr DWORD kUnlistedStatus = 11;

}  // namespace

DWORD MapResultCode(DWORD status) {
  for (const StatusResult& entry : kResultCodes) {
    if (entry.status == status) {
      return entry.result;
    }
  }
  return kUnlistedStatus;
}

}  // namespace orv
