// FdDownItem: the record of one folder download task: the folder's own task fields, the
// ordered list of its files (plain file records, numbered by their position) and two counters.
//
// Made with std::make_shared by the "add_folder" command, shared by the command, the queue and
// the folder job. fromJson runs on the command's thread: a folder that has received nothing yet
// is laid out under the download folder there and reported to the page with "init_end" before
// it is queued. Afterwards the folder job's worker thread is the only writer of `lenLoc`,
// `errors`, `success` and the files' lengths.
#pragma once

#include "component/DownItem.h"
#include "component/PathClaim.h"

#include <memory>
#include <vector>

class FdDownItem : public DownItem {
public:
    FdDownItem();

    void fromJson(const Json::Value& task) override;
    void toJson(Json::Value& task) override;

    std::vector<std::shared_ptr<DownItem>> files;  // download order; a file's id is its index
    int32_t errors = 0;                            // files whose transfer failed
    int32_t success = 0;                           // files completed

private:
    // Places every file under <download folder>/<nameLoc> and makes that the folder's path.
    // The root is numbered ("name (1)") when a directory of that name exists or another new
    // folder has laid out there; nothing in the listing can place a file outside the root.
    void layOut(const std::wstring& serverFolder);
    void sendInitEnd();

    PathClaim rootClaim;  // the root laid out by this record, held while the record lives
};
