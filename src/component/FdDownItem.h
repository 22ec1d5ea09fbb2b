// FdDownItem: the record of one folder download task: the folder's own task fields, the
// ordered list of its files (plain file records, numbered by their position) and two counters.
//
// Made with std::make_shared by the "add_folder" command, shared by the command, the queue and
// the folder job. fromJson and then layOutIfNew run on the command's thread: a folder that has
// received nothing yet is laid out under the download folder there and reported to the page
// with "init_end" before it is queued. Afterwards the folder job's worker thread is the only writer of `lenLoc`,
// `errors`, `success` and the files' lengths.
#pragma once

#include "component/DownItem.h"

#include <memory>
#include <vector>

class FdDownItem : public DownItem {
public:
    FdDownItem();
    // Removes the root this record made when nothing was ever written into it.
    ~FdDownItem() override;

    void fromJson(const Json::Value& task) override;
    // After fromJson: a folder that has received nothing yet (lenLoc 0 or less) is laid out
    // under the download folder (layOut) and reported to the page with "init_end".
    void layOutIfNew();
    void toJson(EventText& task) const override;

    std::vector<std::shared_ptr<DownItem>> files;  // download order; a file's id is its index
    int32_t errors = 0;                            // files whose transfer failed
    int32_t success = 0;                           // files completed

private:
    // Makes the folder's root, a folder of its own in the download folder named after nameLoc
    // ("download" when that names nothing), numbered ("name (1)") when anything of that name is
    // there, and places every file below it: nothing in the listing can place a file outside
    // the root, and a path the listing names twice gives the later file the next free name.
    void layOut(const std::wstring& serverFolder);
    void sendInitEnd();

    std::string madeRoot;  // the root layOut() made (file-system path), "" when none
};
