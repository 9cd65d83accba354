// errno to Win32 error code.
#include "platform/posix/errno_map.h"

#include <errno.h>

DWORD win32_error_from_errno(int err) {
    switch (err) {
        case 0: return ERROR_SUCCESS;
        case ENOENT: case ENXIO: case ENODEV: return ERROR_FILE_NOT_FOUND;
        case EACCES: case EPERM: case EBUSY: return ERROR_ACCESS_DENIED;
        case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
        case ENOMEM: case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
        case EBADF: return ERROR_INVALID_HANDLE;
        case EINVAL: return ERROR_INVALID_PARAMETER;
        case ENOTTY: case EOPNOTSUPP: return ERROR_NOT_SUPPORTED;
        default: return ERROR_GEN_FAILURE;
    }
}

DWORD win32_open_error_from_errno(int err) {
    switch (err) {
        // A ttyS node without a UART behind it fails with EIO.
        case EIO: case ENOTDIR: case ENOTTY: return ERROR_FILE_NOT_FOUND;
        case EWOULDBLOCK: return ERROR_ACCESS_DENIED;  // the advisory lock is held
        default: return win32_error_from_errno(err);
    }
}

DWORD win32_line_error_from_errno(int err) {
    if (err == EINVAL || err == ENOTTY || err == EOPNOTSUPP) return ERROR_NOT_SUPPORTED;
    return win32_error_from_errno(err);
}
