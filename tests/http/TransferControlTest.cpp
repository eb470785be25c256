// Pause, resume and stop from another thread: the control on its own, and transfers in flight
// that obey it. Waits are on events; the few bounded waits only check that something does NOT
// happen while paused, so a slow machine can make them pass wrongly but never fail wrongly.

#include <atomic>
#include <future>
#include <thread>

#include "ClientFixture.h"
#include "http/TransferControl.h"

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

// Long enough that a transfer which ignores a stop is caught by the guard below, not by this.
constexpr int kNeverStallMs = 600000;
// A broken wake-up fails the test here instead of hanging it.
constexpr auto kGuard = 30s;
// How long a paused transfer is watched for moving on.
constexpr auto kWatch = 200ms;

template <typename T>
bool Finishes(std::future<T>& result) {
    return result.wait_for(kGuard) == std::future_status::ready;
}

template <typename T>
bool StaysBlocked(std::future<T>& result) {
    return result.wait_for(kWatch) == std::future_status::timeout;
}

TEST(TransferControl, PausesNestAndExtraResumesAreIgnored) {
    TransferControl control;
    control.Resume();
    EXPECT_FALSE(control.IsPaused());
    control.Pause();
    control.Pause();
    control.Resume();
    EXPECT_TRUE(control.IsPaused());
    control.Resume();
    EXPECT_FALSE(control.IsPaused());
    control.Pause();
    control.Stop();
    EXPECT_TRUE(control.IsStopped());
    EXPECT_FALSE(control.WaitWhilePaused());
    control.Reset();
    EXPECT_FALSE(control.IsStopped());
    EXPECT_FALSE(control.IsPaused());
    EXPECT_TRUE(control.WaitWhilePaused());
}

TEST(TransferControl, WaitersWakeOnResumeAndOnStop) {
    TransferControl control;
    control.Pause();
    auto resumed = std::async(std::launch::async, [&] { return control.WaitWhilePaused(); });
    EXPECT_TRUE(StaysBlocked(resumed));
    control.Resume();
    ASSERT_TRUE(Finishes(resumed));
    EXPECT_TRUE(resumed.get());

    control.Pause();
    auto paused = std::async(std::launch::async, [&] { return control.WaitWhilePaused(); });
    auto sleeping = std::async(std::launch::async, [&] { return control.SleepFor(1h); });
    control.Stop();
    ASSERT_TRUE(Finishes(paused));
    ASSERT_TRUE(Finishes(sleeping));
    EXPECT_FALSE(paused.get());
    EXPECT_FALSE(sleeping.get());
}

TEST(TransferControl, SubscribersHearEveryChangeUntilTheyAreGone) {
    TransferControl control;
    int calls = 0;
    {
        TransferControl::Subscription subscription(control, [&calls] { ++calls; });
        control.Pause();
        control.Resume();
        TransferControl::Subscription moved = std::move(subscription);
        control.Stop();
        control.Reset();
    }
    control.Pause();
    EXPECT_EQ(calls, 4);
    EXPECT_TRUE(control.SleepFor(0ms));
}

class ControlledTransferTest : public ClientTest {
protected:
    void SetUp() override {
        ClientTest::SetUp();
        client.SetTimeouts(0, kNeverStallMs, kNeverStallMs);
        client.SetTransferControl(control);
    }
    // Serves "/half": the headers and the first half of the body, then the second half once
    // `gate` opens (or never, when it stays shut); every other path gets "ok".
    void ServeHalfThenGate(std::shared_future<void> gate) {
        Serve([gate](const std::string& request, int) {
            if (!request.starts_with("GET /half ")) return ScriptedReply{OkReply("ok")};
            ScriptedReply reply{"HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nfirst"};
            reply.gate = gate;
            reply.afterGate = "end";
            return reply;
        });
    }
    // Starts fetching "/half" on another thread and returns once its first half is out.
    std::future<Text> FetchHalfOnAnotherThread() {
        auto fetched = FetchOnAnotherThread("/half");
        server->WaitForReplies(1);
        return fetched;
    }
    std::future<Text> ReadBodyOnAnotherThread() {
        return std::async(std::launch::async, [this] { return client.ReadBodyTextUtf8(); });
    }
    std::future<Text> FetchOnAnotherThread(std::string path) {
        return std::async(std::launch::async, [this, path] {
            static_cast<void>(client.Get(Url(path)));
            return client.ReadBodyTextUtf8();
        });
    }

    std::shared_ptr<TransferControl> control = std::make_shared<TransferControl>();
    std::promise<void> openGate;
};

TEST_F(ControlledTransferTest, StopEndsATransferInFlightAndTheClientGoesOn) {
    ServeHalfThenGate(openGate.get_future().share());
    auto fetched = FetchHalfOnAnotherThread();
    control->Stop();
    ASSERT_TRUE(Finishes(fetched));
    EXPECT_EQ(fetched.get(), "");
    openGate.set_value();

    // Stopped: nothing goes out.
    EXPECT_FALSE(client.Get(Url("/after-stop")));
    EXPECT_EQ(server->Requests().size(), 1u);
    control->Reset();
    ASSERT_TRUE(client.Get(Url("/again")));
    EXPECT_EQ(client.ReadBodyTextUtf8(), "ok");
}

TEST_F(ControlledTransferTest, PausedClientSendsNothingUntilResumed) {
    ServeHalfThenGate({});
    control->Pause();
    auto fetched = FetchOnAnotherThread("/ok");
    EXPECT_TRUE(StaysBlocked(fetched));
    EXPECT_TRUE(server->Requests().empty());
    control->Resume();
    ASSERT_TRUE(Finishes(fetched));
    EXPECT_EQ(fetched.get(), "ok");
}

// The transfer is in flight, its body half read, when the pause comes; the thread that goes
// on reading it checks the pause before moving a byte, so the order here is deterministic.
// The pause outlasts the request's deadline, which counts only the time the transfer runs.
TEST_F(ControlledTransferTest, PausedTransferMovesNoBytesUntilTheLastResume) {
    ServeHalfThenGate(openGate.get_future().share());
    client.SetSpeedLimits(0, 0, static_cast<int>(kWatch.count() * 3 / 4));
    ASSERT_TRUE(client.Get(Url("/half")));
    control->Pause();
    control->Pause();
    openGate.set_value();
    auto body = ReadBodyOnAnotherThread();
    EXPECT_TRUE(StaysBlocked(body));
    control->Resume();
    EXPECT_TRUE(StaysBlocked(body));
    control->Resume();
    ASSERT_TRUE(Finishes(body));
    EXPECT_EQ(body.get(), "firstend");
}

TEST_F(ControlledTransferTest, StopWhilePausedEndsTheTransfer) {
    ServeHalfThenGate(openGate.get_future().share());
    ASSERT_TRUE(client.Get(Url("/half")));
    control->Pause();
    openGate.set_value();
    auto body = ReadBodyOnAnotherThread();
    EXPECT_TRUE(StaysBlocked(body));
    control->Stop();
    ASSERT_TRUE(Finishes(body));
    EXPECT_EQ(body.get(), "");
}

TEST_F(ControlledTransferTest, OneControlStopsTheTransfersOfSeveralClients) {
    ServeHalfThenGate(openGate.get_future().share());
    HttpClient second;
    second.Open(Text(kDefaultUserAgent));
    second.SetTimeouts(0, kNeverStallMs, kNeverStallMs);
    second.SetTransferControl(control);
    auto first = FetchOnAnotherThread("/half");
    auto other = std::async(std::launch::async, [&] {
        static_cast<void>(second.Get(Url("/half")));
        return second.ReadBodyTextUtf8();
    });
    server->WaitForReplies(2);
    control->Stop();
    ASSERT_TRUE(Finishes(first));
    ASSERT_TRUE(Finishes(other));
    EXPECT_EQ(first.get(), "");
    EXPECT_EQ(other.get(), "");
    openGate.set_value();
}

}  // namespace
}  // namespace velmora::testing
