// The core names the Win32 error codes it uses without including windows.h; here the Windows build
// proves each of them is the system's own.
#include <windows.h>

#include "common/win_error.h"

namespace kestrava::err {

static_assert(kSuccess == ERROR_SUCCESS);
static_assert(kInvalidFunction == ERROR_INVALID_FUNCTION);
static_assert(kFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(kAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(kNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(kNoMoreFiles == ERROR_NO_MORE_FILES);
static_assert(kNotSupported == ERROR_NOT_SUPPORTED);
static_assert(kInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(kAlreadyExists == ERROR_ALREADY_EXISTS);
static_assert(kMoreData == ERROR_MORE_DATA);
static_assert(kNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(kKeyDeleted == ERROR_KEY_DELETED);
static_assert(kChildMustBeVolatile == ERROR_CHILD_MUST_BE_VOLATILE);
static_assert(kServiceDisabled == ERROR_SERVICE_DISABLED);
static_assert(kServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(kCantAccessFile == ERROR_CANT_ACCESS_FILE);
static_assert(kNotConnected == ERROR_NOT_CONNECTED);

}  // namespace kestrava::err
