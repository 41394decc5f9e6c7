#include "gui/gui_test_support.h"

#include "download/transfer_job.h"
#include "support/loopback_server.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <thread>

namespace tarvik::testing {
namespace {

constexpr uint32_t kProbe = WM_USER + 0x100;
constexpr uint32_t kSecond = WM_USER + 0x101;

class MessageQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform = MakeGtkPlatform();
        ASSERT_TRUE(platform);
        platform->window.Create(host);
        host.messages.clear();
    }

    std::unique_ptr<platform::gtk::GtkPlatform> platform;
    RecordingHost host;
};

TEST_F(MessageQueueTest, PostsFromOtherThreadsArriveInTheOrderEachThreadPostedThem) {
    struct Case {
        int threads;
        int perThread;
    };
    for (const Case& c : {Case{1, 2000}, Case{4, 500}}) {
        SCOPED_TRACE(std::to_string(c.threads) + " threads");
        host.messages.clear();
        std::vector<std::thread> posters;
        for (int t = 0; t < c.threads; ++t) {
            posters.emplace_back([&, t] {
                for (int i = 0; i < c.perThread; ++i)
                    platform->window.Post(HostMessage{kProbe, uint64_t(t), i});
            });
        }
        const size_t total = size_t(c.threads) * c.perThread;
        ASSERT_TRUE(RunUntil(*platform, [&] { return host.WithId(kProbe).size() >= total; }));
        for (std::thread& poster : posters)
            poster.join();
        std::vector<int64_t> next(c.threads, 0);
        for (const HostMessage& message : host.WithId(kProbe)) {
            ASSERT_EQ(message.lParam, next[message.wParam]) << "thread " << message.wParam;
            ++next[message.wParam];
        }
    }
}

TEST_F(MessageQueueTest, MessagesKeepArrivingWhileAModalDialogRuns) {
    bool boxReturned = false;
    host.onMessage = [&](const HostMessage& message) {
        if (message.id == kProbe) {
            platform->window.Post(HostMessage{kSecond, 0, 0});
            platform->desktop.ShowMessageBox("Working", "Tarvik");
            boxReturned = true;
        } else if (message.id == kSecond) {
            // Handled inside the message box's own loop: close it as the user would.
            GList* toplevels = gtk_window_list_toplevels();
            for (GList* item = toplevels; item; item = item->next) {
                if (GTK_IS_MESSAGE_DIALOG(item->data))
                    gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_OK);
            }
            g_list_free(toplevels);
        }
    };
    platform->window.Post(HostMessage{kProbe, 0, 0});
    ASSERT_TRUE(RunUntil(*platform, [&] { return boxReturned; }));
    EXPECT_EQ(host.WithId(kSecond).size(), 1u);
}

TEST_F(MessageQueueTest, NothingIsDeliveredAfterTheWindowIsDestroyed) {
    struct Case {
        const char* name;
        bool destroyFromHandler;
    };
    for (const Case& c :
         {Case{"destroyed before the loop", false}, Case{"destroyed by the first handler", true}}) {
        SCOPED_TRACE(c.name);
        auto fresh = MakeGtkPlatform();
        RecordingHost recorder;
        fresh->window.Create(recorder);
        recorder.messages.clear();
        recorder.onMessage = [&](const HostMessage&) {
            if (c.destroyFromHandler)
                fresh->window.Destroy();
        };
        for (int i = 0; i < 3; ++i)
            fresh->window.Post(HostMessage{kProbe, 0, i});
        if (!c.destroyFromHandler)
            fresh->window.Destroy();
        for (int i = 0; i < 50; ++i)
            g_main_context_iteration(nullptr, FALSE);
        // Posts after destruction, as a late worker would make them, are dropped too.
        fresh->window.Post(HostMessage{kProbe, 0, 99});
        for (int i = 0; i < 50; ++i)
            g_main_context_iteration(nullptr, FALSE);
        EXPECT_EQ(recorder.messages.size(), c.destroyFromHandler ? 1u : 0u);
    }
}

// The real cross-thread road: a transfer worker posts into the GLib queue while the main loop
// runs and the handlers take the progress figures, as the host does. Under ThreadSanitizer this
// is the test that shows the queue's hand-over between the threads.
TEST_F(MessageQueueTest, ATransferWorkersMessagesArriveOnTheLoopInOrderAndComplete) {
    using namespace std::chrono_literals;
    constexpr size_t kBody = 1024 * 1024;
    constexpr size_t kPiece = 32 * 1024;
    std::string body(kBody, '\0');
    for (size_t i = 0; i < kBody; ++i)
        body[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    LoopbackServer server;
    // Small pieces with pauses, so that the worker posts progress while the loop is running.
    server.server.Get("/setup.run", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(kBody, "application/octet-stream",
                                      [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                          std::this_thread::sleep_for(5ms);
                                          return sink.write(body.data() + offset,
                                                            std::min(kPiece, length));
                                      });
    });
    server.Start();
    TempFolder folder;
    download::TransferLimits limits;
    limits.connect = 5s;
    limits.lowSpeedTime = 10s;
    limits.progressInterval = 20ms;

    struct Delivery {
        uint32_t id;
        std::thread::id thread;
        download::ProgressFigures figures;
    };
    std::vector<Delivery> deliveries;
    download::TransferWorkers workers(platform->system);
    download::TransferJob job(
        workers, server.Url("/setup.run"), (folder / "setup.run").string(), limits,
        [this](const HostMessage& message) { platform->window.Post(message); });
    host.onMessage = [&](const HostMessage& message) {
        // The window's own messages (its size, for one) come through the same queue.
        if (message.id < WM_USER)
            return;
        Delivery delivery{message.id, std::this_thread::get_id(), {}};
        if (message.id == WM_DL_PROGRESS)
            delivery.figures = job.TakeProgress();
        deliveries.push_back(delivery);
    };
    ASSERT_TRUE(job.Start());
    const auto ended = [&] {
        return std::any_of(deliveries.begin(), deliveries.end(), [](const Delivery& d) {
            return d.id == WM_DNLD_FINISHED || d.id == WM_DNLD_FAILED;
        });
    };
    ASSERT_TRUE(RunUntil(*platform, ended, 30s));
    // Anything the worker might still post after its last message would show up here.
    RunFor(*platform, 200ms);

    ASSERT_GE(deliveries.size(), 2u) << "no progress before the end";
    EXPECT_EQ(deliveries.back().id, WM_DNLD_FINISHED);
    uint64_t received = 0;
    for (size_t i = 0; i + 1 < deliveries.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i));
        const Delivery& d = deliveries[i];
        EXPECT_EQ(d.id, WM_DL_PROGRESS);
        EXPECT_EQ(d.thread, std::this_thread::get_id());
        EXPECT_EQ(d.figures.total, static_cast<int64_t>(kBody));
        EXPECT_GE(d.figures.received, received);
        EXPECT_LE(d.figures.received, kBody);
        received = d.figures.received;
    }
    EXPECT_EQ(deliveries.back().thread, std::this_thread::get_id());
    EXPECT_EQ(ReadFileIfPresent(folder / "setup.run"), body);
}

} // namespace
} // namespace tarvik::testing
