#include "shell/UpdateCheck.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using tonemirror::shell::LocalVersion;
using tonemirror::shell::UpdateResult;
using tonemirror::shell::UpdateServer;

// Local 0.9 build 330.
constexpr LocalVersion kLocal{9, 330};

// A one-thread HTTP server on 127.0.0.1 that answers every request with the same raw bytes and
// remembers the request heads it received.
class TestServer {
public:
    explicit TestServer(std::string answer) : answer_(std::move(answer)) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(listener_, 8) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "cannot listen on 127.0.0.1";
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~TestServer() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        if (listener_ >= 0) {
            close(listener_);
        }
    }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    UpdateServer server() const { return UpdateServer{"127.0.0.1", port_}; }
    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void serve() {
        while (!stop_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            std::string head;
            char buffer[1024];
            while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
                pollfd reading{client, POLLIN, 0};
                if (poll(&reading, 1, 5000) <= 0) {
                    break;
                }
                const ssize_t got = recv(client, buffer, sizeof(buffer), 0);
                if (got <= 0) {
                    break;
                }
                head.append(buffer, static_cast<std::size_t>(got));
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(head);
            }
            std::size_t sent = 0;
            while (sent < answer_.size()) {
                const ssize_t n = send(client, answer_.data() + sent, answer_.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) {
                    break; // the client may stop reading early
                }
                sent += static_cast<std::size_t>(n);
            }
            shutdown(client, SHUT_RDWR);
            close(client);
        }
    }

    std::string answer_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
};

std::string httpAnswer(int status, const std::string& body) {
    return "HTTP/1.0 " + std::to_string(status) + (status == 200 ? " OK" : " Whatever") +
           "\r\nContent-Type: text/plain\r\n\r\n" + body;
}

class UpdateCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A proxy from the environment must not stand between the check and the local server.
        setenv("no_proxy", "127.0.0.1", 1);
        setenv("NO_PROXY", "127.0.0.1", 1);
    }
};

struct AnswerCase {
    const char* name;
    std::string raw; // everything the server sends back
    UpdateResult expected;
};

void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.name;
}

class AnswerTest : public UpdateCheckTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerTest, ClassifiesServerAnswer) {
    TestServer server(GetParam().raw);
    EXPECT_EQ(runUpdateCheck(server.server(), kLocal, false), GetParam().expected);
    EXPECT_EQ(server.requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AnswerTest,
    ::testing::Values(
        AnswerCase{"SameVersion", httpAnswer(200, "Tonemirror:0.9.330:OK"), UpdateResult::UpToDate},
        AnswerCase{"NewerBuild", httpAnswer(200, "Tonemirror:0.9.331:OK"), UpdateResult::Present},
        AnswerCase{"NewerMinor", httpAnswer(200, "Tonemirror:0.10.0:OK"), UpdateResult::Present},
        AnswerCase{"NewerMajor", httpAnswer(200, "Tonemirror:1.0.0:OK\r\nnotes follow"),
                   UpdateResult::Present},
        AnswerCase{"Older", httpAnswer(200, "Tonemirror:0.8.999:OK"), UpdateResult::UpToDate},
        AnswerCase{"NoMarker", httpAnswer(200, "Tonemirror:0.9.331"), UpdateResult::Error},
        AnswerCase{"WrongPrefix", httpAnswer(200, "Tonemirrors:0.9.331:OK"), UpdateResult::Error},
        AnswerCase{"EmptyBody", httpAnswer(200, ""), UpdateResult::Error},
        AnswerCase{"NotFound", httpAnswer(404, "Tonemirror:0.9.331:OK"), UpdateResult::Error},
        AnswerCase{"ServerError", httpAnswer(500, ""), UpdateResult::Error},
        AnswerCase{"HugeBodyOnlyStartCounts",
                   httpAnswer(200, "Tonemirror:0.9.331:OK" + std::string(200000, 'x')),
                   UpdateResult::Present},
        AnswerCase{"MarkerBeyondReadLimit",
                   httpAnswer(200, "Tonemirror:0.9.331" + std::string(1000, ' ') + ":OK"),
                   UpdateResult::Error},
        AnswerCase{"TruncatedBody", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nTonemirror:0.9.331:OK",
                   UpdateResult::Connection},
        AnswerCase{"NotHttp", "Tonemirror:0.9.331:OK\r\n", UpdateResult::Connection},
        AnswerCase{"ClosedWithoutAnswer", "", UpdateResult::Connection}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(UpdateCheckTest, NoServerMeansNoConnection) {
    // A port that was free a moment ago and has nobody listening on it.
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    close(probe);
    EXPECT_EQ(runUpdateCheck(UpdateServer{"127.0.0.1", ntohs(address.sin_port)}, kLocal, false),
              UpdateResult::Connection);
}

std::vector<std::string> lines(const std::string& head) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t end; (end = head.find("\r\n", start)) != std::string::npos; start = end + 2) {
        if (end == start) {
            break;
        }
        out.push_back(head.substr(start, end - start));
    }
    return out;
}

TEST_F(UpdateCheckTest, SendsExactRequest) {
    for (const bool firstCheck : {false, true}) {
        TestServer server(httpAnswer(200, "Tonemirror:0.9.330:OK"));
        ASSERT_EQ(runUpdateCheck(server.server(), kLocal, firstCheck), UpdateResult::UpToDate);
        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        ASSERT_TRUE(requests[0].ends_with("\r\n\r\n")) << "no body follows the head";
        auto head = lines(requests[0]);
        ASSERT_FALSE(head.empty());
        EXPECT_EQ(head[0], firstCheck ? "GET /version?new HTTP/1.0" : "GET /version HTTP/1.0");
        std::vector<std::string> headers(head.begin() + 1, head.end());
        std::sort(headers.begin(), headers.end());
        const std::vector<std::string> expected{
            "Accept: text/*",
            "Host: 127.0.0.1:" + std::to_string(server.server().port),
            "Pragma: no-cache",
            "User-Agent: Tonemirror",
        };
        EXPECT_EQ(headers, expected);
    }
}

TEST_F(UpdateCheckTest, StartedCheckReportsOnItsOwnThread) {
    TestServer server(httpAnswer(200, "Tonemirror:0.9.331:OK"));
    std::promise<std::pair<UpdateResult, std::thread::id>> reported;
    std::thread check = tonemirror::shell::startUpdateCheck(
        [&reported](UpdateResult result) {
            reported.set_value({result, std::this_thread::get_id()});
        },
        kLocal, true, server.server());
    ASSERT_TRUE(check.joinable());
    const auto checkId = check.get_id();
    check.join();
    const auto [result, threadId] = reported.get_future().get();
    EXPECT_EQ(result, UpdateResult::Present);
    EXPECT_EQ(threadId, checkId);
    EXPECT_TRUE(server.requests().at(0).starts_with("GET /version?new "));
}

struct ParseCase {
    const char* answer;
    UpdateResult expected;
};

TEST(ClassifyUpdateAnswer, ParsesVersionLeniently) {
    const ParseCase cases[] = {
        {"Tonemirror: +0.9.331:OK", UpdateResult::Present},       // blanks and sign before major
        {"Tonemirror:-1.9.999:OK", UpdateResult::UpToDate},       // negative major is older
        {"Tonemirror:0.65545.0:OK", UpdateResult::UpToDate},      // minor is 16 bits: 65545 -> 9
        {"Tonemirror:99999999999.0.0:OK", UpdateResult::Present}, // saturates, never wraps to old
        {"Tonemirror:65536.0.0:OK", UpdateResult::Present},       // beyond 16 bits of major
        {"Tonemirror:0.9:OK", UpdateResult::UpToDate},            // build missing: 0
        {"Tonemirror:0:OK", UpdateResult::UpToDate},              // minor and build missing
        {"Tonemirror:0.9.331:OKAY", UpdateResult::Present},       // text after "OK" ignored
        {"Tonemirror:0.9.331:ok", UpdateResult::Error},           // marker is case-sensitive
        {"Tonemirror::OK", UpdateResult::Error},                  // ":" searched after the first character
        {"Tonemirror:", UpdateResult::Error},                     //
        {"tonemirror:0.9.331:OK", UpdateResult::Error},           //
        {"Tonemirror:0.9.331:O", UpdateResult::Error},            // truncated marker
        {"Tonemirror:0.9.331x:OK", UpdateResult::Present},        // digits up to the first non-digit
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classifyUpdateAnswer(c.answer, kLocal), c.expected) << c.answer;
    }
    // The text ends at a zero byte.
    EXPECT_EQ(classifyUpdateAnswer(std::string_view("Tonemirror:0.9.331\0:OK", 22), kLocal),
              UpdateResult::Error);
}

TEST(AutomaticCheck, DueOncePerUtcCalendarDay) {
    constexpr std::time_t kDay1Late = 1796687999;                 // 2026-12-07 23:59:59 UTC
    constexpr std::time_t kDay2Early = 1796688001;                // 2026-12-08 00:00:01 UTC
    constexpr std::time_t kYearEarlier = kDay1Late - 365 * 86400; // same day of the year, 2025
    struct Case {
        std::optional<std::uint32_t> checkUpdate;
        std::optional<std::uint32_t> lastUpdate;
        std::time_t now;
        bool due;
        bool first;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, kDay1Late, true, true}, // defaults: on, never checked
        {1u, 0u, kDay1Late, true, true},
        {1u, static_cast<std::uint32_t>(kDay1Late - 3600), kDay1Late, false, false}, // same day
        {1u, static_cast<std::uint32_t>(kDay1Late), kDay2Early, true, false},   // two seconds later, next day
        {1u, static_cast<std::uint32_t>(kYearEarlier), kDay1Late, true, false}, // same day of another year
        {0u, 0u, kDay1Late, false, true},
        {2u, 0u, kDay1Late, false, true}, // only exactly 1 switches it on
    };
    for (const auto& c : cases) {
        const auto check = tonemirror::shell::automaticCheckDue(c.checkUpdate, c.lastUpdate, c.now);
        EXPECT_EQ(check.due, c.due) << c.now << " " << c.lastUpdate.value_or(12345);
        EXPECT_EQ(check.firstCheck, c.first);
    }
}

} // namespace
