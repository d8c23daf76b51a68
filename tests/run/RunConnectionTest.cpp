#include <arpa/inet.h>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "RunFixture.h"
#include "platform/db/ZDatabase.h"

namespace {

// Sets environment variables for one test and puts the old values back afterwards.
class TEnvironment {
public:
    void Set(const char* name, const std::string& value) {
        const char* old = std::getenv(name);
        saved.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
        setenv(name, value.c_str(), 1);
    }
    ~TEnvironment() {
        for (auto it = saved.rbegin(); it != saved.rend(); ++it)
            it->second ? (void)setenv(it->first, it->second->c_str(), 1) : (void)unsetenv(it->first);
    }

private:
    std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

// A server on 127.0.0.1 that accepts connections (the kernel completes them) and never answers. It
// closes by itself after a minute, so that a client without a connect time fails then instead of
// hanging the test for ever.
class TSilentServer {
public:
    TSilentServer() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd, 8) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("silent server: no socket");
        port = ntohs(a.sin_port);
        closer = std::thread([this] {
            std::unique_lock lock(mutex);
            stopped.wait_for(lock, std::chrono::seconds(60), [this] { return stop; });
            close(fd);
        });
    }
    ~TSilentServer() {
        {
            std::lock_guard lock(mutex);
            stop = true;
        }
        stopped.notify_one();
        closer.join();
    }
    int port = 0;

private:
    int fd = -1;
    std::mutex mutex;
    std::condition_variable stopped;
    bool stop = false;
    std::thread closer;
};

std::string ErrorOf(TZConnection& c) {
    try {
        c.Connect();
    } catch (const EDatabaseError& e) {
        return e.what();
    }
    return {};
}

class RunConnection : public RunFixture {};

} // namespace

// Each case: the [Verbindung] lines of Kelpora.ini, the start of the connection string the run
// connection opens (empty when it is refused before), and the database it reaches or the failure it
// ends with. The PG* variables point at the test server's database throughout, so any value libpq took
// from them would turn a failure into a connection.
TEST_F(RunConnection, SettingsAloneMakeTheConnection) {
    const std::string port = std::to_string(TTestDatabase::Port());
    const std::string name = db->Name(), user = TTestDatabase::User(), pw = TTestDatabase::Password();
    TEnvironment env;
    env.Set("PGDATABASE", name);
    env.Set("PGPASSWORD", pw);
    env.Set("PGHOSTADDR", "127.0.0.1");
    const std::string tail = " connect_timeout='10' application_name='Kelpora' client_encoding='UTF8'";
    auto info = [&](const std::string& host, const std::string& p, const std::string& password) {
        return "host='" + host + "' port='" + p + "' dbname='" + name + "' user='" + user + "' password='" +
               password + "'" + tail;
    };
    auto lines = [&](const std::string& server, const std::string& p, const std::string& database,
                     const std::string& u, const std::string& password) {
        return "Server=" + server + "\nPort=" + p + "\nDatenbank=" + database + "\nUser=" + u +
               "\nPasswort=" + password + "\n";
    };
    struct Case {
        const char* what;
        std::string ini, connectionString, outcome; // outcome: "db:" + database, or the failure text
    } cases[] = {
        {"as written", lines("127.0.0.1", port, name, user, pw), info("127.0.0.1", port, pw), "db:" + name},
        {"blanks and tabs around the values",
         "Server = 127.0.0.1 \nPort =\t" + port + " \nDatenbank = " + name + "\nUser =\t" + user +
             "\nPasswort = " + pw + " \n",
         info("127.0.0.1", port, pw), "db:" + name},
        {"empty port", lines("127.0.0.1", "", name, user, pw), info("127.0.0.1", "-1", pw),
         "invalid port number: \"-1\""},
        {"port with a letter", lines("127.0.0.1", port + "x", name, user, pw), info("127.0.0.1", "-1", pw),
         "invalid port number: \"-1\""},
        {"empty server", lines("", port, name, user, pw), "", "Kein Server angegeben."},
        {"empty database", lines("127.0.0.1", port, "", user, pw), "", "Keine Datenbank angegeben."},
        {"empty user", lines("127.0.0.1", port, name, "", pw), "", "Kein Benutzer angegeben."},
        {"empty password where one is asked", lines("127.0.0.1", port, name, user, ""),
         info("127.0.0.1", port, ""), "no password supplied"},
        {"empty password on the trusted socket", lines(TTestDatabase::Host(), port, name, user, ""),
         info(TTestDatabase::Host(), port, ""), "db:" + name},
        {"quote and backslash in the password", lines("127.0.0.1", port, name, user, "a'b\\c"),
         info("127.0.0.1", port, "a\\'b\\\\c"), "password authentication failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(dir.filePath("Kelpora.ini").toStdString()) << "[Verbindung]\n" << c.ini;
        const auto conn = w->CreateConnection(false);
        ASSERT_TRUE(conn);
        std::string connectionString;
        try {
            connectionString = conn->ConnectionString();
        } catch (const EDatabaseError&) {
        }
        EXPECT_EQ(connectionString.substr(0, c.connectionString.size()), c.connectionString);
        if (!c.connectionString.empty()) { // the environment's keywords have values of their own
            EXPECT_NE(connectionString.find(" hostaddr=''"), std::string::npos) << connectionString;
        }
        const std::string error = ErrorOf(*conn);
        if (c.outcome.rfind("db:", 0) == 0) {
            ASSERT_EQ(error, "");
            TZQuery q(conn.get());
            q.SetSQL("SELECT current_database()");
            q.Open();
            EXPECT_EQ("db:" + q.Fields(0).AsString(), c.outcome);
        } else {
            EXPECT_NE(error.find(c.outcome), std::string::npos) << error;
            EXPECT_FALSE(conn->Connected());
        }
    }
    EXPECT_TRUE(fake->messages.empty());
}

// A blank field reaches the user as the opening's failure in the general error display, and the run
// ends cleanly.
TEST_F(RunConnection, BlankServerEndsTheImportWithItsMessage) {
    std::ofstream(dir.filePath("Kelpora.ini").toStdString())
        << "[Verbindung]\nServer= \nPort=" << TTestDatabase::Port() << "\nDatenbank=" << db->Name()
        << "\nUser=" << TTestDatabase::User() << "\n";
    w->ToolButton3Click();
    EXPECT_EQ(fake->errors, std::vector<std::string>{"Kein Server angegeben."});
    EXPECT_TRUE(fake->shownDialogs.empty());
    ExpectCleanedUp();
}

// A server that takes the connection and never answers ends the import with the opening's failure once
// the connect time is over.
TEST_F(RunConnection, SilentServerEndsTheImportWithATimeout) {
    TSilentServer silent;
    std::ofstream(dir.filePath("Kelpora.ini").toStdString())
        << "[Verbindung]\nServer=127.0.0.1\nPort=" << silent.port << "\nDatenbank=" << db->Name()
        << "\nUser=" << TTestDatabase::User() << "\nPasswort=" << TTestDatabase::Password() << "\n";
    w->ToolButton3Click();
    ASSERT_EQ(fake->errors.size(), 1u);
    EXPECT_NE(fake->errors[0].find("timeout expired"), std::string::npos) << fake->errors[0];
    EXPECT_TRUE(fake->shownDialogs.empty());
    ExpectCleanedUp();
}
