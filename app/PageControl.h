// PageControl: the control of one page of `zelvorn serve`, embedded as a browser embeds it:
// created by its ProgID in an apartment of its own, with a site of its own, handed a script
// function through `recvMessage` and scripted by name. Every call is posted to the apartment
// and returns at once, so a thread that reads a socket never waits for the page's thread (a
// command may keep it busy for as long as a folder dialog is open); commands run in the order
// they were posted.
//
// Shared by the page's session and the calls posted for it; made by open(), ended by unload()
// (a page that goes away), after which its apartment ends and the control is released. The
// listener and the callbacks run on the apartment thread.
#pragma once

#include "platform/Apartment.h"
#include "platform/Dispatch.h"

#include <functional>
#include <memory>
#include <string>

class PageControl : public std::enable_shared_from_this<PageControl> {
    struct Token {};

public:
    struct Callbacks {
        std::function<void(const std::string& event)> event;  // each event text, UTF-8
        std::function<void(const std::string& why)> failed;   // once, when there is no control
        std::function<void()> ended;                          // once, after unload()
    };

    // Starts making the control for a page of `origin` (its site says so); it is ready for the
    // commands posted after this.
    static std::shared_ptr<PageControl> open(std::string origin, Callbacks callbacks);
    PageControl(Token, Callbacks callbacks);

    // One postMessage text (UTF-8), after those posted before.
    void post(std::string command);
    // Stops the process's download queue; does not wait.
    void stopQueue();
    // True while a queue runs or a job still has events to send. Waits for the apartment.
    bool busy();
    // The page goes away: the control is closed and released, the apartment ends, and
    // `ended` runs. Once.
    void unload();

private:
    void create(const std::string& origin);

    const Callbacks callbacks;
    const std::shared_ptr<Apartment> page = Apartment::create();
    ComPtr<IDispatch> control;  // apartment thread only; null until made, and after unload()
};
