// The web view in a real browser: Debian's Chromium, driven through python3-selenium by
// browser_agent.py, against the real server binary with players logged in through the protocol
// client library. The page lists rooms and players, follows joins, moves and leaves without a
// reload, shows a hostile name as text without running any of it, and the widget renders in
// both themes. Screenshots are kept in the build tree (artifacts/).
#include <signal.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "blackbox/server_fixture.h"
#include "support/test_server.h"
#include "support/tool_runner.h"

namespace pltest {
namespace {

using Json = nlohmann::json;

constexpr char kHostileName[] = "<img src=x onerror=alert(1)>";
// A change must show on the page within this time; the stream itself is immediate, this is
// the page's budget for a loaded machine.
constexpr double kLiveSeconds = 2.0;

// The browser, through the agent's line protocol.
class Browser {
 public:
  Browser() : agent_("/usr/bin/python3", {PL_BROWSER_AGENT}, Options()) {
    ready_ = agent_.started() && Read(60000).value("ready", false);
  }
  bool ready() const { return ready_; }
  std::string Errors() { return agent_.Finish().err; }

  Json Do(const Json& command, int timeout_ms = 30000) {
    if (!agent_.WriteInput(command.dump() + "\n")) return Json{{"ok", false}};
    return Read(timeout_ms);
  }
  Json State() { return Do({{"do", "state"}}).value("state", Json::object()); }

 private:
  static ToolOptions Options() {
    ToolOptions options;
    options.input_pipe = true;
    options.timeout_ms = 30000;
    return options;
  }
  Json Read(int timeout_ms) {
    std::optional<std::string> line = agent_.NextLine(timeout_ms);
    if (!line) return Json{{"ok", false}};
    return Json::parse(*line, nullptr, false);
  }

  ToolProcess agent_;
  bool ready_ = false;
};

class WebViewBrowserTest : public ServerFixture {
 protected:
  static void SetUpTestSuite() {
    // A dead agent's input pipe must fail a write, not end the test program.
    signal(SIGPIPE, SIG_IGN);
  }

  void StartServer() {
    server_ = StartOnFreePorts([&](int port) {
      WriteFile(IniPath(), CurrentIni(port,
                                      "[General]\r\nServername=Corvane Community\r\n"
                                      "[Channels]\r\n0=Lobby\r\n1=Raid Night\r\n2=Quiet Corner\r\n"
                                      "[Web]\r\nListen=127.0.0.1:0\r\n"));
    });
    ASSERT_TRUE(server_);
    static const std::regex kWebLine(" info web listen=127\\.0\\.0\\.1:(\\d+)");
    std::string port;
    ASSERT_TRUE(WaitUntil(
        [&] {
          const std::string output = server_->Output();
          std::smatch match;
          if (std::regex_search(output, match, kWebLine)) port = match[1].str();
          return !port.empty();
        },
        10000))
        << server_->Output();
    web_url_ = "http://127.0.0.1:" + port;
  }

  // The browser, or a failed test that says why there is none.
  std::unique_ptr<Browser> OpenBrowser() {
    auto browser = std::make_unique<Browser>();
    if (!browser->ready()) {
      ADD_FAILURE() << "Chromium did not start (scripts/test.sh installs chromium, "
                       "chromium-driver and python3-selenium): "
                    << browser->Errors();
      return nullptr;
    }
    return browser;
  }

  // Waits on the page for `name` in `room` (or gone), and checks that the page was not
  // reloaded and ran nothing of a name.
  void ExpectLive(Browser& browser, const std::string& name, const std::string& room,
                  bool present) {
    Json answer = browser.Do({{"do", "await"},
                              {"name", name},
                              {"room", room},
                              {"present", present},
                              {"timeout", kLiveSeconds}});
    EXPECT_TRUE(answer.value("ok", false)) << name << " in " << room << ": " << answer.dump();
    const Json state = answer.value("state", Json::object());
    EXPECT_FALSE(state.value("alert", true)) << "an alert opened";
    EXPECT_EQ(state.value("mark", ""), "not reloaded");
    EXPECT_EQ(state.value("images", -1), 0);
  }

  std::string Artifact(const std::string& name) const {
    std::string directory = std::string(PL_BUILD_DIR) + "/artifacts";
    mkdir(directory.c_str(), 0755);
    return directory + "/" + name;
  }

  std::unique_ptr<ServerProcess> server_;
  std::string web_url_;
};

TEST_F(WebViewBrowserTest, ThePageListsThePlayersFollowsEveryChangeAndRunsNoName) {
  StartServer();
  auto alice = Player("alice");
  auto bob = Player("bob");
  auto dana = Player("dana");
  ASSERT_TRUE(alice && bob && dana);
  ASSERT_TRUE(bob->SendChangeRoom(2));
  ASSERT_TRUE(dana->SendChangeRoom(2));
  auto browser = OpenBrowser();
  ASSERT_TRUE(browser);

  // Without a change yet: the snapshot the server rendered, then the live stream's first status.
  ASSERT_TRUE(browser->Do({{"do", "open"}, {"url", web_url_ + "/"}}).value("ok", false));
  ASSERT_TRUE(browser
                  ->Do({{"do", "await"},
                        {"name", "bob"},
                        {"room", "Raid Night"},
                        {"present", true},
                        {"timeout", 10.0}})
                  .value("ok", false));
  ASSERT_TRUE(browser->Do({{"do", "mark"}, {"mark", "not reloaded"}}).value("ok", false));
  Json state = browser->State();
  ASSERT_EQ(state["rooms"].size(), 3u) << state.dump();
  EXPECT_EQ(state["rooms"][0]["name"], "Lobby");
  EXPECT_EQ(state["rooms"][0]["names"], Json::array({"alice"}));
  EXPECT_EQ(state["rooms"][1]["names"], Json::array({"bob", "dana"}));
  EXPECT_EQ(state["server"], "Corvane Community");

  // A join, a move and a leave, each on the page without a reload.
  auto carol = Player("carol");
  ASSERT_TRUE(carol);
  ExpectLive(*browser, "carol", "Lobby", true);
  ASSERT_TRUE(carol->SendChangeRoom(3));
  ExpectLive(*browser, "carol", "Quiet Corner", true);
  ASSERT_TRUE(alice->SendLeave());
  ExpectLive(*browser, "alice", "", false);

  // A name made of markup is text: the page shows it as written and gains no element from it.
  auto hostile = Player(kHostileName);
  ASSERT_TRUE(hostile);
  ExpectLive(*browser, kHostileName, "Lobby", true);
  state = browser->State();
  EXPECT_EQ(state.value("scripts", -1), 1);
  EXPECT_EQ(state.value("live", ""), "Live");
  EXPECT_NE(state.value("latest", "").find(kHostileName), std::string::npos) << state.dump();
  // Its own script and style pass the page's policy: nothing was refused.
  for (const Json& message : state.value("console", Json::array()))
    EXPECT_EQ(message.get<std::string>().find("Content Security Policy"), std::string::npos)
        << message;
  EXPECT_TRUE(browser
                  ->Do({{"do", "screenshot"},
                        {"path", Artifact("web-view.png")},
                        {"width", 1000},
                        {"height", 280}})
                  .value("ok", false));
  EXPECT_TRUE(browser
                  ->Do({{"do", "screenshot"},
                        {"path", Artifact("web-view-phone.png")},
                        {"width", 390},
                        {"height", 470},
                        {"mobile", true}})
                  .value("ok", false));
  // Loaded afresh, the server's own rendering shows the name as text too.
  ASSERT_TRUE(browser->Do({{"do", "open"}, {"url", web_url_ + "/"}}).value("ok", false));
  state = browser->State();
  EXPECT_FALSE(state.value("alert", true));
  EXPECT_EQ(state.value("images", -1), 0);
  EXPECT_EQ(state["rooms"][0]["names"], Json::array({kHostileName}));
}

TEST_F(WebViewBrowserTest, TheWidgetRendersInBothThemes) {
  StartServer();
  auto dana = Player("dana");
  ASSERT_TRUE(dana);
  auto browser = OpenBrowser();
  ASSERT_TRUE(browser);
  for (const char* theme : {"light", "dark"}) {
    ASSERT_TRUE(browser->Do({{"do", "open"}, {"url", web_url_ + "/widget?theme=" + theme}})
                    .value("ok", false));
    const Json state = browser->State();
    ASSERT_EQ(state["rooms"].size(), 3u) << state.dump();
    EXPECT_EQ(state["rooms"][0]["names"], Json::array({"dana"}));
    EXPECT_EQ(state.value("players", ""), "1");
    EXPECT_TRUE(browser
                    ->Do({{"do", "screenshot"},
                          {"path", Artifact(std::string("widget-") + theme + ".png")},
                          {"width", 360},
                          {"height", 250}})
                    .value("ok", false));
  }
}

}  // namespace
}  // namespace pltest
