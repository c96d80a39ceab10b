#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "web/HtmlPanel.h"

namespace testsupport {

// Gets GTK up and points WebKit at the built extension; false when no display is usable.
bool PrepareWebTests();

// Runs the GUI main loop until `condition` holds or `timeout` passes; its last answer.
bool PumpUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A panel whose module directory and trusted main page a test chooses, which records what it
// sees and offers "test.*" page commands:
//   app:test.echo&<text>   result := <text>
//   app:test.report&<text> records <text> in reports (result "ok")
//   app:test.name          result := the panel's name
class WebTestPanel : public CHtmlPanel {
  public:
    WebTestPanel(const std::string& name, const std::string& moduleDirectory,
                 const std::string& trustedMainPage = {}, int autoDelete = 0);
    ~WebTestPanel() override;

    // Creates the panel, loads `url` and waits for the document to complete.
    bool OpenPage(const std::string& url);
    // Evaluates an expression in the top frame and returns its value as text.
    std::string Evaluate(const std::string& expression);

    std::vector<std::string> reports;
    std::vector<PanelEventCode> events;
    std::vector<int> commands;
    int documentsCompleted = 0;
    // Runs for commands the fixture does not know; return nonzero when handled.
    std::function<int(PageCommand&)> extraCommands;
    // Changes the answer to a panel event after the base gave its own.
    std::function<void(PanelEvent&)> adjustAnswer;
    // Set when the destructor runs (for self-deleting panels).
    bool* destroyedFlag = nullptr;

  private:
    // The panel's role: "test.*" commands, events recorded, "app.quit" recorded as command 1.
    Role TestRole();
    bool RunTestCommand(PageCommand& command);
};

}  // namespace testsupport
