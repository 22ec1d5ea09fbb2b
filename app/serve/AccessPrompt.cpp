#include "AccessPrompt.h"

#include "OriginChoices.h"
#include "platform/DesktopDialog.h"

#include <utility>

AccessPrompt::~AccessPrompt()
{
    stop();
}

void AccessPrompt::ask(const std::string& origin, Answer answer)
{
    const std::string name = OriginChoices::lowered(origin);
    std::string refusal;
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto now = std::chrono::steady_clock::now();
        // zenity gives up by itself after kAnswerTime; kdialog is ended at the next request.
        if (!asking.empty() && now - askedAt > kAnswerTime)
            ending.interrupt();
        if (stopped) {
            refusal = "the server is stopping";
        } else if (asking == name) {
            waiting.push_back(std::move(answer));
            return;
        } else if (!asking.empty()) {
            refusal = "the user is being asked about another origin; ask again later";
        } else if (now < quietUntil) {
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(quietUntil - now).count();
            const auto minutes = (seconds + 59) / 60;
            refusal = "the user turned a question down lately; ask again in " + std::to_string(minutes) + " min";
        } else {
            refusal = DesktopDialog::whyNoDesktop();
        }
        if (refusal.empty()) {
            if (dialog.joinable())
                dialog.join();  // the last question's thread, done but for its return
            asking = name;
            askedAt = now;
            waiting.push_back(std::move(answer));
            dialog = std::thread(&AccessPrompt::question, this, name);
            return;
        }
    }
    answer(false, refusal);
}

void AccessPrompt::question(std::string origin)
{
    // A well-formed origin holds no character that zenity's markup or kdialog's rich text would
    // take for their own.
    const std::string text = "Let pages of " + origin + " use Zelvorn to download files to this computer?";
    const std::vector<std::vector<std::string>> dialogs = {
        {"zenity", "--question", "--title=Zelvorn", "--text=" + text, "--ok-label=Allow", "--cancel-label=Deny",
         "--timeout=" + std::to_string(std::chrono::seconds(kAnswerTime).count())},
        {"kdialog", "--title", "Zelvorn", "--yes-label", "Allow", "--no-label", "Deny", "--yesno", text},
    };
    for (const auto& args : dialogs) {
        const DesktopDialog::Result result = DesktopDialog::run(args, &ending);
        if (result.outcome == DesktopDialog::Result::Outcome::missing)
            continue;
        if (result.status != 0)
            return settle(false, "the user did not allow it", true);
        std::string error;
        if (!OriginChoices::set(origin, OriginChoices::Choice::allow, error))
            return settle(false, "the user allowed it, but it could not be stored: " + error, false);
        return settle(true, "", false);
    }
    settle(false, "nobody can be asked: neither zenity nor kdialog is installed", false);
}

void AccessPrompt::settle(bool allowed, const std::string& why, bool quiet)
{
    std::vector<Answer> answers;
    {
        std::lock_guard<std::mutex> guard(lock);
        answers.swap(waiting);
        asking.clear();
        if (quiet)
            quietUntil = std::chrono::steady_clock::now() + kQuiet;
    }
    for (auto& answer : answers)
        answer(allowed, why);
}

void AccessPrompt::stop()
{
    std::thread asked;
    {
        std::lock_guard<std::mutex> guard(lock);
        stopped = true;
        asked = std::move(dialog);
    }
    // A dialog still starting is ended as soon as it has started.
    ending.end();
    if (asked.joinable())
        asked.join();
}
