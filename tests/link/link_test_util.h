#pragma once
// Helpers shared by the link tests: a temporary folder and a byte collector
// that plays the transport's receive callback.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dorvane::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorvane-link-XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr) m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

/// Collects the bytes delivered to the receive callback.
class Collector {
public:
    static int Callback(void* user, const std::uint8_t* bytes, std::size_t count) {
        auto* self = static_cast<Collector*>(user);
        std::lock_guard lock(self->m_lock);
        self->m_bytes.insert(self->m_bytes.end(), bytes, bytes + count);
        self->m_calls++;
        if (count > self->m_largest) self->m_largest = count;
        if (count == 0) self->m_emptyCalls++;
        self->m_wake.notify_all();
        return 1;
    }

    bool WaitFor(std::size_t size, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(m_lock);
        return m_wake.wait_for(lock, limit, [&] { return m_bytes.size() >= size; });
    }

    std::vector<std::uint8_t> Bytes() const {
        std::lock_guard lock(m_lock);
        return m_bytes;
    }
    std::size_t Calls() const {
        std::lock_guard lock(m_lock);
        return m_calls;
    }
    std::size_t Largest() const {
        std::lock_guard lock(m_lock);
        return m_largest;
    }
    std::size_t EmptyCalls() const {
        std::lock_guard lock(m_lock);
        return m_emptyCalls;
    }

private:
    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_calls = 0;
    std::size_t m_largest = 0;
    std::size_t m_emptyCalls = 0;
};

/// A pseudo-terminal pair: the test holds the master, a link opens the slave
/// by its "/dev/pts/N" path.
class PtyPair {
public:
    PtyPair() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
        char name[128] = {};
        if (::ptsname_r(m_master, name, sizeof name) == 0) m_slave = name;
    }
    ~PtyPair() {
        if (m_master >= 0) ::close(m_master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
    int master() const { return m_master; }
    const std::string& slave() const { return m_slave; }

    void WriteAll(const std::vector<std::uint8_t>& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (errno != EINTR && errno != EAGAIN)
                return;
        }
    }

private:
    int m_master = -1;
    std::string m_slave;
};

/// Deterministic test pattern (fixed seed) so reordering shows.
inline std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed = 12345) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = seed;
    for (auto& b : bytes) {
        state = state * 1664525u + 1013904223u;  // Numerical Recipes LCG
        b = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

}  // namespace dorvane::test
