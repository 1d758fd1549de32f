#pragma once
// A real PostgreSQL 15 with PostGIS for the office book's tests: a fresh
// cluster in a temporary folder, reached only through a Unix socket in that
// folder (no TCP port to collide with anything), started once per test
// program and stopped after it, also when the program dies (a watchdog
// process stops it when the test program is gone).
//
// PostgreSQL refuses to run as root. Under root (CI), the server runs as the
// system user kServerUser, created when missing, through runuser; the test
// program itself stays root and connects over the socket.
//
// Roles: kSuperuser (trusted over the socket) owns everything; kPasswordRole
// must give its password (scram-sha-256), for the wrong-password cases.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "common/run_command.h"

namespace dorvane::testing {

class PgServer {
public:
    static constexpr const char* kServerUser = "dorvane-pgtest";
    static constexpr const char* kSuperuser = "dorvane";
    static constexpr const char* kPasswordRole = "dorvane_pw";
    /// Debian's server binaries (postgresql-15).
    static constexpr const char* kBin = "/usr/lib/postgresql/15/bin/";
    /// The socket's port number: only its file name (.s.PGSQL.<port>) in our
    /// own folder, so any number serves.
    static constexpr int kPort = 5432;

    PgServer() = default;
    ~PgServer() { Stop(); }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    /// initdb, pg_hba, start, and a template database with PostGIS.
    bool Start(std::string& error) {
        char tmpl[] = "/tmp/dorvane-pg-XXXXXX";
        if (!::mkdtemp(tmpl)) return Failed(error, "mkdtemp failed");
        dir_ = tmpl;
        if (::geteuid() == 0) {
            if (test::RunCommand(std::string("id -u ") + kServerUser + " >/dev/null 2>&1").status != 0) {
                const auto add = test::RunCommand(std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") +
                                                  kServerUser + " 2>&1");
                // Another test program may have made it at the same moment.
                if (add.status != 0 && test::RunCommand(std::string("id -u ") + kServerUser + " >/dev/null 2>&1").status != 0)
                    return Failed(error, "useradd " + std::string(kServerUser) + ": " + add.out);
            }
            if (test::RunCommand("chown " + std::string(kServerUser) + " " + dir_.string()).status != 0)
                return Failed(error, "chown failed");
            as_ = std::string("runuser -u ") + kServerUser + " -- ";
        }
        const std::string data = (dir_ / "data").string();
        auto init = test::RunCommand(as_ + kBin + "initdb -D " + data + " -U " + kSuperuser +
                                     " --auth=trust -E UTF8 --locale=C.UTF-8 --no-sync 2>&1");
        if (init.status != 0) return Failed(error, "initdb: " + init.out);
        const std::string hba = "local all " + std::string(kPasswordRole) + " scram-sha-256\nlocal all all trust\n";
        if (test::RunCommand(as_ + "sh -c " + Quote("printf '%s' " + Quote(hba) + " > " + data + "/pg_hba.conf")).status != 0)
            return Failed(error, "writing pg_hba.conf failed");
        if (!StartServer(error)) return false;
        // Stops the server when this program is gone, however it ends.
        const std::string watch = "while kill -0 " + std::to_string(::getpid()) + " 2>/dev/null; do sleep 1; done; " +
                                  as_ + kBin + "pg_ctl -D " + data + " -m immediate stop; rm -rf " + dir_.string();
        test::RunCommand("setsid sh -c " + Quote(watch) + " >/dev/null 2>&1 </dev/null &");
        std::string out;
        if (!Psql("postgres", "CREATE DATABASE book_template", &out) ||
            !Psql("book_template", "CREATE EXTENSION postgis", &out) ||
            !Psql("postgres", std::string("CREATE ROLE ") + kPasswordRole + " LOGIN SUPERUSER PASSWORD 'right-one'", &out))
            return Failed(error, "preparing the server: " + out);
        return true;
    }

    /// pg_ctl stop (fast) and the folder removed; harmless when not running.
    void Stop() {
        if (dir_.empty()) return;
        test::RunCommand(as_ + kBin + "pg_ctl -D " + (dir_ / "data").string() + " -m fast -w stop >/dev/null 2>&1");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        dir_.clear();
    }

    /// The server killed as a power cut would (pg_ctl stop -m immediate).
    bool Crash() {
        return test::RunCommand(as_ + kBin + "pg_ctl -D " + (dir_ / "data").string() +
                                " -m immediate -w stop >/dev/null 2>&1")
                   .status == 0;
    }
    bool Restart(std::string& error) { return StartServer(error); }

    /// A new empty database with PostGIS (a copy of the template) for one test.
    std::string NewBook(const std::string& role = kSuperuser) {
        static std::atomic<int> n{0};
        const std::string db = "book_" + std::to_string(++n);
        std::string out;
        if (!Psql("postgres", "CREATE DATABASE " + db + " TEMPLATE book_template STRATEGY FILE_COPY", &out)) return {};
        return Uri(db, role);
    }
    /// An empty database without PostGIS.
    std::string NewPlainDatabase(const std::string& name) {
        std::string out;
        if (!Psql("postgres", "CREATE DATABASE " + name, &out)) return {};
        return Uri(name);
    }

    std::string Uri(const std::string& db, const std::string& role = kSuperuser) const {
        return "postgresql://" + role + "@/" + db + "?host=" + dir_.string() + "&port=" + std::to_string(kPort);
    }
    std::string SocketDir() const { return dir_.string(); }

    /// Runs `sql` in `db` as the superuser; `out` gets what psql printed.
    bool Psql(const std::string& db, const std::string& sql, std::string* out = nullptr) const {
        const auto r = test::RunCommand("psql -X -q -At -v ON_ERROR_STOP=1 -h " + dir_.string() + " -p " +
                                        std::to_string(kPort) + " -U " + kSuperuser + " -d " + db + " -c " +
                                        Quote(sql) + " 2>&1");
        if (out) *out = r.out;
        return r.status == 0;
    }
    std::string Query(const std::string& db, const std::string& sql) const {
        std::string out;
        Psql(db, sql, &out);
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

    static std::string Quote(const std::string& s) {
        std::string q = "'";
        for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return q + "'";
    }

private:
    bool StartServer(std::string& error) {
        const std::string data = (dir_ / "data").string();
        // No fsync: the cluster is thrown away after the tests, and an
        // immediate stop loses nothing the OS has already been handed. A
        // commit still writes its WAL before it returns (synchronous_commit
        // stays on): the stop-in-the-middle cases count on committed work
        // surviving the stop.
        const std::string options = "-c listen_addresses='' -c unix_socket_directories=" + dir_.string() +
                                    " -c port=" + std::to_string(kPort) +
                                    " -c fsync=off -c full_page_writes=off"
                                    " -c max_connections=60 -c shared_buffers=32MB";
        const auto start = test::RunCommand(as_ + kBin + "pg_ctl -D " + data + " -l " + (dir_ / "server.log").string() +
                                            " -w -t 60 -o " + Quote(options) + " start 2>&1");
        if (start.status != 0)
            return Failed(error, "pg_ctl start: " + start.out + test::RunCommand("tail -20 " + (dir_ / "server.log").string()).out);
        return true;
    }
    bool Failed(std::string& error, const std::string& why) {
        error = why;
        return false;
    }

    std::filesystem::path dir_;
    std::string as_;  ///< "runuser -u USER -- " under root
};

}  // namespace dorvane::testing
