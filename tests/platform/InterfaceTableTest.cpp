#include "platform/InterfaceTable.h"
#include "platform/ScriptFunction.h"

#include <gtest/gtest.h>

#include <thread>

// A function object registered in the table: the owning thread gets it back itself, and
// without a proxy factory another thread gets E_NOINTERFACE.
TEST(InterfaceTable, OwnerGetsTheObjectOthersNeedAProxy)
{
    auto page = Apartment::create();
    auto function = ScriptFunction::create([](const std::wstring&) {});
    InterfaceTable::Cookie cookie = 0;
    page->invoke([&] {
        ASSERT_EQ(InterfaceTable::instance().registerInterface(function.get(), IID_IScriptFunction, &cookie), S_OK);
        void* out = nullptr;
        ASSERT_EQ(InterfaceTable::instance().getInterface(cookie, IID_IScriptFunction, &out), S_OK);
        EXPECT_EQ(out, function.get());
        static_cast<IUnknown*>(out)->Release();
    });
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(InterfaceTable::instance().getInterface(cookie, IID_IScriptFunction, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(InterfaceTable::instance().revoke(cookie), S_OK);
    EXPECT_EQ(InterfaceTable::instance().revoke(cookie), E_INVALIDARG);
    EXPECT_EQ(InterfaceTable::instance().getInterface(cookie, IID_IScriptFunction, &out), E_INVALIDARG);
}

TEST(InterfaceTable, RegistrationNeedsAnApartmentAndKeepsAReference)
{
    auto function = ScriptFunction::create([](const std::wstring&) {});
    InterfaceTable::Cookie cookie = 0;
    EXPECT_EQ(InterfaceTable::instance().registerInterface(function.get(), IID_IScriptFunction, &cookie), E_FAIL);

    auto page = Apartment::create();
    page->invoke([&] { InterfaceTable::instance().registerInterface(function.get(), IID_IScriptFunction, &cookie); });
    // Our reference plus the table's: AddRef reports the count it reached.
    EXPECT_EQ(function->AddRef(), 3u);
    function->Release();
    InterfaceTable::instance().revoke(cookie);
    EXPECT_EQ(function->AddRef(), 2u);
    function->Release();
}

TEST(ScriptFunction, ThrowingCallbackIsContained)
{
    int calls = 0;
    auto function = ScriptFunction::create([&](const std::wstring& text) {
        ++calls;
        if (text == L"boom")
            throw 42;
    });
    function->invoke(L"boom");
    function->invoke(L"fine");
    EXPECT_EQ(calls, 2);
}
