#include "shell/HelpAboutForm.h"

#include <cstdio>
#include <vector>

#include "shell/about_texts.h"
#include "shell/cVersionInfo.h"

namespace shell {
namespace {

using about::kCaption;
using about::kContributors;
using about::kLibraryCredits;
using about::kLibrarySite;
using about::kMakers;
using about::kProductName;
using about::kProductSite;
using about::kSiteLabel;
using about::kTeamHeading;

constexpr char kCloseHint[] = "[ OK ]  press any key to close";
constexpr size_t kTextWidth = 56;

// Breaks `text` at spaces into lines of at most kTextWidth characters (a longer word stays whole).
std::vector<std::string> WordWrapped(const std::string& text) {
  std::vector<std::string> lines(1);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(start, end - start);
    if (!lines.back().empty() && lines.back().size() + 1 + word.size() > kTextWidth) {
      lines.emplace_back();
    }
    if (!lines.back().empty()) lines.back() += ' ';
    lines.back() += word;
    start = end + 1;
  }
  return lines;
}

}  // namespace

TfrmAbout::TfrmAbout() {
  FormCreate();
}

void TfrmAbout::FormCreate() {
  lbversion_ = VersionInfo().VersionText();
}

std::string TfrmAbout::Render() const {
  const std::string rule(kTextWidth + 4, '-');
  std::string text;
  auto line = [&text](const std::string& content) { text += "  " + content + "\n"; };
  const std::string caption = std::string("-- ") + kCaption + " ";
  text += "+" + caption + rule.substr(caption.size()) + "+\n";
  line(std::string(kProductName) + " " + lbversion_);
  for (const std::string& part : WordWrapped(kMakers)) line(part);
  line(std::string(kSiteLabel) + " " + kProductSite);
  line("");
  line(kTeamHeading);
  for (const char* name : kContributors) line(std::string("  ") + name);
  line("");
  for (const std::string& part : WordWrapped(kLibraryCredits)) line(part);
  line(kLibrarySite);
  line("");
  line(kCloseHint);
  text += "+" + rule + "+\n";
  return text;
}

ModalResult TfrmAbout::ShowModal(ConsoleKeys& keys) const {
  std::fputs(Render().c_str(), stdout);
  std::fflush(stdout);
  // Any key closes the box.
  return EndsTheShell(keys.Next()) ? ModalResult::kShellEnds : ModalResult::kClosed;
}

}  // namespace shell
