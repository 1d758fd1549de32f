#include "link/device.h"

#include <cerrno>

namespace dorvane {

std::string_view LinkErrorName(LinkError error) {
    switch (error) {
        case LinkError::None:
            return "None";
        case LinkError::NotFound:
            return "NotFound";
        case LinkError::PermissionDenied:
            return "PermissionDenied";
        case LinkError::Busy:
            return "Busy";
        case LinkError::NotATerminal:
            return "NotATerminal";
        case LinkError::BadSettings:
            return "BadSettings";
        case LinkError::NotConfigured:
            return "NotConfigured";
        case LinkError::IoError:
            return "IoError";
    }
    return "IoError";
}

LinkError LinkErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return LinkError::None;
        case EACCES:
        case EPERM:
            return LinkError::PermissionDenied;
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            return LinkError::NotFound;
        case EBUSY:
        case EWOULDBLOCK:
            return LinkError::Busy;
        case ENOTTY:
            return LinkError::NotATerminal;
        default:
            return LinkError::IoError;
    }
}

bool IsDeviceGoneErrno(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE;
}

void CDevice::SetReceiveCallback(ReceiveCallback callback, void* user) {
    std::lock_guard lock(m_callbackLock);
    m_callback = callback;
    m_user = callback ? user : nullptr;
}

void CDevice::SetLostCallback(LostCallback callback, void* user) {
    std::lock_guard lock(m_callbackLock);
    m_lostCallback = callback;
    m_lostUser = callback ? user : nullptr;
}

void CDevice::MarkLost() {
    if (m_lost.exchange(true, std::memory_order_acq_rel)) return;
    std::lock_guard lock(m_callbackLock);
    if (m_lostCallback) m_lostCallback(m_lostUser);
}

bool CDevice::HasReceiver() const {
    std::lock_guard lock(m_callbackLock);
    return m_callback != nullptr;
}

bool CDevice::Deliver(const std::uint8_t* bytes, std::size_t count) {
    std::lock_guard lock(m_callbackLock);
    if (!m_callback) return false;
    m_callback(m_user, bytes, count);
    return true;
}

}  // namespace dorvane
