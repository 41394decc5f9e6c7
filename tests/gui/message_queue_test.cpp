#include "gui/gui_test_support.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

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
            platform->shell.ShowMessageBox("Working", "Tarvik");
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

TEST(StartupWithoutDisplay, FactoryReportsTheMissingDisplay) {
    std::string error;
    auto platform = TryMakeGtkPlatform(error);
    EXPECT_FALSE(platform);
    EXPECT_NE(error.find("display"), std::string::npos) << error;
}

} // namespace
} // namespace tarvik::testing
