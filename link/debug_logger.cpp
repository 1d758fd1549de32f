#include "link/debug_logger.h"

#include <cstdlib>
#include <system_error>

namespace dorvane {

CDebugLogger::~CDebugLogger() {
    std::lock_guard lock(m_lock);
    CloseLocked();
}

CDebugLogger& CDebugLogger::Instance() {
    static CDebugLogger logger;
    return logger;
}

std::filesystem::path CDebugLogger::DefaultLogFolder() {
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        return std::filesystem::path(state) / "dorvane";
    }
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        return std::filesystem::path(home) / ".local" / "state" / "dorvane";
    }
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    return (ec ? std::filesystem::path("/tmp") : temp) / "dorvane";
}

bool CDebugLogger::Open(const std::filesystem::path& file) {
    std::lock_guard lock(m_lock);
    CloseLocked();
    std::error_code ec;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ec);
    m_stream.clear();
    m_stream.open(file, std::ios::out | std::ios::app);
    return m_stream.is_open();
}

void CDebugLogger::Close() {
    std::lock_guard lock(m_lock);
    CloseLocked();
}

bool CDebugLogger::IsOpen() const {
    std::lock_guard lock(m_lock);
    return m_stream.is_open();
}

void CDebugLogger::Write(std::string_view line) {
    std::lock_guard lock(m_lock);
    if (!m_stream.is_open()) return;
    m_stream << line << '\n';
    m_stream.flush();
}

void CDebugLogger::CloseLocked() {
    if (!m_stream.is_open()) return;
    m_stream << kEndLogLine;
    m_stream.close();  // a failed close only sets failbit, which nobody reads
    m_stream.clear();
}

}  // namespace dorvane
