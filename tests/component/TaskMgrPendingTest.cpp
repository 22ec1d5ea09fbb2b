#include "component/TaskMgr.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<DownItem> task(int id, const char* url = "")
{
    auto item = std::make_shared<DownItem>();
    item->id = id;
    item->fileUrl = url;
    return item;
}

}  // namespace

TEST(TaskMgrPending, TasksLeaveInAscendingIdOrderAndTheFirstOfAnIdStays)
{
    TaskMgr& manager = TaskMgr::instance();
    manager.clearTasks();
    manager.addTask(task(7));
    manager.addTask(task(3, "first"));
    manager.addTask(task(5));
    manager.addTask(task(3, "second"));
    manager.addTask(task(-2));
    std::vector<int> order;
    std::shared_ptr<DownItem> three;
    while (auto item = manager.takeNextTask()) {
        order.push_back(item->id);
        if (item->id == 3)
            three = item;
    }
    EXPECT_EQ(order, (std::vector<int>{-2, 3, 5, 7}));
    EXPECT_EQ(three->fileUrl, "first");
}

TEST(TaskMgrPending, RemoveAndClear)
{
    TaskMgr& manager = TaskMgr::instance();
    manager.addTask(task(1));
    manager.addTask(task(2));
    manager.removeTask(1);
    manager.removeTask(99);  // neither pending nor running: nothing happens
    auto next = manager.takeNextTask();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->id, 2);
    manager.addTask(task(4));
    manager.addTask(task(2));  // an id that left the pending map may come again
    manager.clearTasks();
    EXPECT_EQ(manager.takeNextTask(), nullptr);
}
