// Real databases for the database tests on the host (see testdb.h). The
// recipes (server start and stop, connection texts, the command-line clients)
// live in the testdb-server script; this file runs it. Under ctest it uses the
// servers of the fixture named by TW_TEST_DATABASES and makes one database a
// test case in them. Without that variable it keeps one private server of
// each kind per process and makes sure each server goes away with the
// process: the script's watchdog (testdb-server watch) owns the server and
// stops it when the pipe that only this process holds open closes, at a
// normal exit as well as after a crash.
#include "tests/support/db/testdb.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

extern char** environ;

namespace twtest::db {
namespace {

// The script that knows how to make the databases (set by the build).
constexpr char kServerScript[] = TW_TESTDB_SERVER_SCRIPT;

// A file descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int Release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Everything up to the end of the file or pipe, from where it stands.
std::string ReadAll(int fd) {
  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
  return text;
}

std::string ReadFileText(const std::string& path) {
  Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  return file.get() < 0 ? std::string() : ReadAll(file.get());
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Exit status of a child, -1 when it did not exit normally.
int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts `args` with the given descriptors as its stdin, stdout and stderr, in
// a new session when `ownSession`; the pid, or -1 with the reason in *why.
pid_t Spawn(const std::vector<std::string>& args, int in, int out, int err, bool ownSession, std::string* why) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_adddup2(&actions, in, 0);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  if (ownSession) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    *why = "cannot run " + args[0] + ": " + strerror(failed);
    return -1;
  }
  return pid;
}

// Runs the server script with `args` and `input` on its stdin; true when it
// exits with 0, its stdout in *output; else false with its stderr in *why.
// The streams are in-memory files: no pipe to fill, no temporary file to remove.
bool RunScript(const std::vector<std::string>& args, const std::string& input, std::string* output, std::string* why) {
  const Fd in(memfd_create("tw-in", MFD_CLOEXEC)), out(memfd_create("tw-out", MFD_CLOEXEC)),
      err(memfd_create("tw-err", MFD_CLOEXEC));
  if (in.get() < 0 || out.get() < 0 || err.get() < 0 || !WriteAll(in.get(), input) ||
      lseek(in.get(), 0, SEEK_SET) != 0) {
    *why = std::string("cannot make the streams of ") + kServerScript + ": " + strerror(errno);
    return false;
  }
  std::vector<std::string> argv{kServerScript};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = Spawn(argv, in.get(), out.get(), err.get(), false, why);
  if (pid < 0) return false;
  const int status = WaitFor(pid);
  lseek(out.get(), 0, SEEK_SET);
  *output = ReadAll(out.get());
  if (status == 0) return true;
  lseek(err.get(), 0, SEEK_SET);
  *why = Trimmed(ReadAll(err.get()));
  if (why->empty()) *why = args[0] + " ended with status " + std::to_string(status);
  return false;
}

// The server of a kind for this process: the fixture's, or a private one.
struct Server {
  Server(const char* kind, const char* type, const char* createSql, const char* dropSql)
      : kind(kind), type(type), createSql(createSql), dropSql(dropSql) {}
  const char* kind;       // "pgsql" or "mysql": the script's name for it
  const char* type;       // the DatabaseType() of its databases
  const char* createSql;  // %s: the database name
  const char* dropSql;
  bool tried = false;
  std::string failure;     // why it did not start, once tried
  std::string dir;         // its folder: socket, data, logs
  std::string connection;  // connection text without Database=
  bool shared = false;     // the fixture's: it outlives this process
  int watchdogInput = -1;  // private: closing it makes the watchdog stop the server
  pid_t watchdog = -1;
  // Its databases can still be dropped (a private one is stopped at exit).
  bool Running() const { return shared || watchdogInput >= 0; }
};

std::mutex g_mutex;
pid_t g_owner = -1;
Server g_postgres{"pgsql", "PGSQL", "CREATE DATABASE %s;", "DROP DATABASE IF EXISTS %s WITH (FORCE);"};
Server g_mariadb{"mysql", "MYSQL", "CREATE DATABASE %s;",
                 "SET SESSION lock_wait_timeout = 10; DROP DATABASE IF EXISTS %s;"};

// Closing the pipe lets the watchdog stop the server; waiting for it means the
// server and its folder are gone when this returns.
void StopServer(Server& server) {
  if (server.watchdog < 0) return;
  close(server.watchdogInput);
  server.watchdogInput = -1;
  WaitFor(server.watchdog);
  server.watchdog = -1;
}

void StopServers() {
  std::lock_guard lock(g_mutex);
  // A forked child that exits leaves the servers to the process that started them.
  if (getpid() != g_owner) return;
  StopServer(g_postgres);
  StopServer(g_mariadb);
}

// Starts the server under its watchdog and waits for the start to end; false
// with the reason in *why.
bool StartWatchedServer(Server& server, std::string* why) {
  int control[2], started[2];
  if (pipe2(control, O_CLOEXEC) != 0) {
    *why = std::string("pipe: ") + strerror(errno);
    return false;
  }
  Fd controlRead(control[0]), controlWrite(control[1]);
  if (pipe2(started, O_CLOEXEC) != 0) {
    *why = std::string("pipe: ") + strerror(errno);
    return false;
  }
  Fd startedRead(started[0]), startedWrite(started[1]);
  const Fd null(open("/dev/null", O_WRONLY | O_CLOEXEC));
  server.watchdog = Spawn({kServerScript, "watch", server.kind, server.dir}, controlRead.get(), startedWrite.get(),
                          null.get(), true, why);
  if (server.watchdog < 0) return false;
  server.watchdogInput = controlWrite.Release();
  startedWrite.Reset();
  ReadAll(startedRead.get());  // returns when the watchdog closes its stdout
  if (Trimmed(ReadFileText(server.dir + "/start.status")) == "0") {
    server.connection = ReadFileText(server.dir + "/start.out");
    return true;
  }
  *why = Trimmed(ReadFileText(server.dir + "/start.err"));
  if (why->empty()) *why = std::string(server.kind) + "-start ended without a reason";
  StopServer(server);
  return false;
}

// The fixture's server of the kind (testdb-server fixture-start wrote what it
// started into the state folder); false with the reason in *why.
bool UseFixtureServer(Server& server, const std::string& state, std::string* why) {
  if (Trimmed(ReadFileText(state + "/start.status")) != "0") {
    const std::string reason = Trimmed(ReadFileText(state + "/start.err"));
    *why = "the test databases in " + state + " (TW_TEST_DATABASES) are not running: " +
           (reason.empty() ? "ctest starts them in the test test_databases_start" : reason);
    return false;
  }
  server.dir = state + "/" + server.kind;
  server.connection = ReadFileText(server.dir + "/start.out");
  if (server.connection.empty()) {
    *why = "the test databases in " + state + " (TW_TEST_DATABASES) have no " + server.kind + " server";
    return false;
  }
  server.shared = true;
  return true;
}

bool StartServer(Server& server, std::string* why) {
  if (!server.tried) {
    server.tried = true;
    const char* state = getenv("TW_TEST_DATABASES");
    if (state && *state) {
      UseFixtureServer(server, state, &server.failure);
    } else {
      if (g_owner != getpid()) {
        g_owner = getpid();
        std::atexit(StopServers);
      }
      std::string dir = std::string("/tmp/tw-") + server.kind + "-XXXXXX";
      if (!mkdtemp(dir.data())) {
        server.failure = "cannot make a folder " + dir + ": " + strerror(errno);
      } else if (server.dir = dir; !StartWatchedServer(server, &server.failure)) {
        rmdir(dir.c_str());  // left when no watchdog ran to remove it
      }
    }
  }
  if (server.failure.empty()) return true;
  *why = server.failure;
  return false;
}

std::string Format(const char* format, const std::string& name) {
  std::string text(format);
  text.replace(text.find("%s"), 2, name);
  return text;
}

// What RunSql needs of a database: the client's type, where it lives (file or
// server folder) and the database name in the server.
class ScriptDatabase : public TestDatabase {
 public:
  virtual std::vector<std::string> SqlArgs() const = 0;
};

class SqliteDatabase final : public ScriptDatabase {
 public:
  SqliteDatabase(std::string path, std::string connection)
      : path_(std::move(path)), connection_(std::move(connection)) {}
  ~SqliteDatabase() override {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) unlink((path_ + suffix).c_str());
  }
  std::string ConnectionString() const override { return connection_; }
  const char* DatabaseType() const override { return "SQLITE"; }
  std::vector<std::string> SqlArgs() const override { return {"sql", "SQLITE", path_, ""}; }

 private:
  std::string path_;
  std::string connection_;
};

class ServerDatabase final : public ScriptDatabase {
 public:
  ServerDatabase(const Server& server, std::string name) : server_(server), name_(std::move(name)) {}
  ~ServerDatabase() override {
    // Nothing to drop once a private server has been stopped at exit.
    if (!server_.Running()) return;
    std::string output, why;
    if (!RunScript({"sql", server_.type, server_.dir, ""}, Format(server_.dropSql, name_), &output, &why))
      fprintf(stderr, "cannot drop the test database %s: %s\n", name_.c_str(), why.c_str());
  }
  std::string ConnectionString() const override { return server_.connection + "Database=" + name_ + ";"; }
  const char* DatabaseType() const override { return server_.type; }
  std::vector<std::string> SqlArgs() const override { return {"sql", server_.type, server_.dir, name_}; }

 private:
  const Server& server_;
  std::string name_;
};

std::unique_ptr<TestDatabase> NewServerDatabase(Server& server, std::string* why) {
  {
    std::lock_guard lock(g_mutex);
    if (!StartServer(server, why)) return nullptr;
  }
  const std::string name = UniqueDatabaseName("twtest");
  std::string output;
  if (!RunScript({"sql", server.type, server.dir, ""}, Format(server.createSql, name), &output, why)) {
    *why = "cannot create the database " + name + ": " + *why;
    return nullptr;
  }
  return std::make_unique<ServerDatabase>(server, name);
}

}  // namespace

std::unique_ptr<TestDatabase> NewSqliteDatabase(std::string* why) {
  std::string path = "/dev/shm/tw-test-XXXXXX.db";
  const int fd = mkstemps(path.data(), 3);
  if (fd < 0) {
    *why = "cannot make a file " + path + ": " + strerror(errno);
    return nullptr;
  }
  close(fd);
  std::string connection;
  if (!RunScript({"sqlite-conn", path}, "", &connection, why)) {
    unlink(path.c_str());
    return nullptr;
  }
  return std::make_unique<SqliteDatabase>(path, connection);
}

std::unique_ptr<TestDatabase> NewPostgresDatabase(std::string* why) { return NewServerDatabase(g_postgres, why); }

std::unique_ptr<TestDatabase> NewMariaDbDatabase(std::string* why) { return NewServerDatabase(g_mariadb, why); }

bool RunSql(const TestDatabase& db, const std::string& sql, std::string* output, std::string* why) {
  const auto* scripted = dynamic_cast<const ScriptDatabase*>(&db);
  if (!scripted) {
    *why = "not a database made by twtest::db";
    return false;
  }
  output->clear();
  return RunScript(scripted->SqlArgs(), sql, output, why);
}

}  // namespace twtest::db
