#include "LoopbackHttp.h"
#include "web/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>

using namespace std::chrono_literals;

namespace {

const std::string kCommonHeaders =
    "Accept: */*\r\nUser-Agent: quorlin\r\nAccept-Charset: GB2312,utf-8;q=0.7,*;q=0.7\r\n";

std::string HostOf(const loopback::RawHttpServer& raw) {
    return raw.BaseUrl().substr(7);
}

std::string HeadOf(const std::string& request) {
    return request.substr(0, request.find("\r\n\r\n") + 4);
}

std::string BodyOf(const std::string& request) {
    return request.substr(request.find("\r\n\r\n") + 4);
}

// A gate the server side waits on, so a test can tell "the client did not wait" from "the
// server answered" without measuring time.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool open = false;
    void Open() {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
        changed.notify_all();
    }
    bool WaitOpen(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [this] { return open; });
    }
};

}  // namespace

TEST(HttpClient, GetSendsTheThreeHeadersInOrderAndReturnsTheText) {
    loopback::RawHttpServer raw([](const std::string&) { return loopback::OkResponse("hello"); });
    CHttpClient client;
    EXPECT_EQ(client.Request(raw.BaseUrl() + "/log?a=1&b=two", false, "GET", ""), "hello");
    const auto requests = raw.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "GET /log?a=1&b=two HTTP/1.1\r\nHost: " + HostOf(raw) + "\r\n" +
                               kCommonHeaders + "\r\n");
}

TEST(HttpClient, OnlyUpperCasePostWithABodyIsDeclaredAForm) {
    loopback::RawHttpServer raw([](const std::string&) { return loopback::OkResponse("ok"); });
    CHttpClient client;
    const std::string url = raw.BaseUrl() + "/form";
    EXPECT_EQ(client.Request(url, false, "POST", "a=1&b=2"), "ok");
    EXPECT_EQ(client.Request(url, false, "post", "a=1&b=2"), "ok");
    EXPECT_EQ(client.Request(url, false, "POST", ""), "ok");
    EXPECT_EQ(client.Request(url, false, "GET", "q=body"), "ok");
    const auto requests = raw.Requests();
    ASSERT_EQ(requests.size(), 4u);
    const std::string start = " /form HTTP/1.1\r\nHost: " + HostOf(raw) + "\r\n" + kCommonHeaders;

    EXPECT_EQ(HeadOf(requests[0]), "POST" + start +
                                       "Content-Type: application/x-www-form-urlencoded\r\n"
                                       "Content-Length: 7\r\n\r\n");
    EXPECT_EQ(BodyOf(requests[0]), "a=1&b=2");
    // The method goes out unchanged and is not taken for POST.
    EXPECT_EQ(HeadOf(requests[1]), "post" + start + "Content-Length: 7\r\n\r\n");
    EXPECT_EQ(BodyOf(requests[1]), "a=1&b=2");
    EXPECT_EQ(HeadOf(requests[2]), "POST" + start + "Content-Length: 0\r\n\r\n");
    // A body is sent with GET too.
    EXPECT_EQ(HeadOf(requests[3]), "GET" + start + "Content-Length: 6\r\n\r\n");
    EXPECT_EQ(BodyOf(requests[3]), "q=body");
}

TEST(HttpClient, SynchronousAnswerIsReturnedWhateverTheStatus) {
    loopback::HttplibServer http;
    http.server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("no such page", "text/plain");
    });
    ASSERT_TRUE(http.Start());
    CHttpClient client;
    EXPECT_EQ(client.Request(http.BaseUrl() + "/missing", false, "GET", ""), "no such page");
}

TEST(HttpClient, FailuresGiveEmptyText) {
    loopback::RawHttpServer raw([](const std::string&) { return loopback::OkResponse("x"); });
    CHttpClient client;
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(loopback::UnusedLoopbackPort()) + "/";
    EXPECT_EQ(client.Request(refused, false, "GET", ""), "");
    // A method that is not a single token would let a caller forge a second request line.
    EXPECT_EQ(client.Request(raw.BaseUrl() + "/", false, "GET / HTTP/1.1\r\nX:", ""), "");
    EXPECT_EQ(client.Request(raw.BaseUrl() + "/", false, "", ""), "");
    EXPECT_TRUE(raw.Requests().empty());
}

TEST(HttpClient, BlanksAndNonAsciiInTheUrlArePercentEncodedOnTheWire) {
    EXPECT_EQ(
        UrlForWire("http://h/log?os=Debian GNU/Linux 12 (x), 64-bit&n=%41\"<>{}|\\^`\xC3\xA9"),
        "http://h/log?os=Debian%20GNU/Linux%2012%20(x),%2064-bit&n=%41"
        "%22%3C%3E%7B%7D%7C%5C%5E%60%C3%A9");
    loopback::RawHttpServer raw([](const std::string&) { return loopback::OkResponse("x"); });
    CHttpClient client;
    EXPECT_EQ(client.Request(raw.BaseUrl() + "/q?os=a b", false, "GET", ""), "x");
    ASSERT_EQ(raw.Requests().size(), 1u);
    EXPECT_EQ(raw.Requests()[0].rfind("GET /q?os=a%20b HTTP/1.1\r\n", 0), 0u);
}

TEST(HttpClient, AsynchronousRequestReturnsAtOnceAndOutlivesTheClient) {
    Gate released;
    std::promise<bool> servedAfterRelease;
    loopback::HttplibServer http;
    http.server.Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
        // Answers only after the test has got control back from Request.
        servedAfterRelease.set_value(released.WaitOpen(20s));
        res.set_content("late", "text/plain");
    });
    ASSERT_TRUE(http.Start());
    auto served = servedAfterRelease.get_future();
    {
        CHttpClient client;
        EXPECT_EQ(client.Request(http.BaseUrl() + "/slow", true, "GET", ""), "");
    }  // the client is gone before the server has answered
    released.Open();
    ASSERT_EQ(served.wait_for(30s), std::future_status::ready);
    EXPECT_TRUE(served.get());
}

TEST(HttpClient, NewRequestAbortsThePreviousOne) {
    std::promise<void> streaming;
    std::promise<bool> streamOutcome;  // true: the whole stream was delivered
    loopback::HttplibServer http;
    http.server.Get("/stream", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
            streaming.set_value();
            // Trickles for up to 20 s; a client that hangs up ends it early.
            for (int i = 0; i < 400; ++i) {
                if (!sink.write("tick\n", 5)) {
                    streamOutcome.set_value(false);
                    return false;
                }
                std::this_thread::sleep_for(50ms);
            }
            streamOutcome.set_value(true);
            sink.done();
            return true;
        });
    });
    http.server.Get("/quick", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("quick", "text/plain");
    });
    ASSERT_TRUE(http.Start());
    auto outcome = streamOutcome.get_future();
    CHttpClient client;
    EXPECT_EQ(client.Request(http.BaseUrl() + "/stream", true, "GET", ""), "");
    ASSERT_EQ(streaming.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_EQ(client.Request(http.BaseUrl() + "/quick", false, "GET", ""), "quick");
    ASSERT_EQ(outcome.wait_for(30s), std::future_status::ready);
    EXPECT_FALSE(outcome.get());
}
