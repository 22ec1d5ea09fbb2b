#include "ModuleHarness.h"

#include "platform/Apartment.h"
#include "platform/ClassFactory.h"
#include "platform/Dispatch.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

const GUID kClsid = {0xA826A674, 0xB4E5, 0x4462, {0xA6, 0xF7, 0xDE, 0xF6, 0x69, 0x69, 0xC1, 0x30}};

ComPtr<IClassFactory> factoryOf(const LoadedModule& module)
{
    void* raw = nullptr;
    EXPECT_EQ(module.getClassObject(kClsid, IID_IClassFactory, &raw), S_OK);
    return ComPtr<IClassFactory>::adopt(static_cast<IClassFactory*>(raw));
}

std::wstring versionOf(IDispatch& control)
{
    std::vector<Variant> none;
    Variant result;
    EXPECT_EQ(control.Invoke(1, DispatchKind::PropertyGet, none, &result), S_OK);
    return result.text;
}

// An object that aggregates the control: it answers IUnknown itself and hands every other
// query to the control's inner unknown.
class Outer : public IUnknown {
public:
    HRESULT QueryInterface(const GUID& iid, void** out) override
    {
        if (iid == IID_IUnknown) {
            AddRef();
            *out = static_cast<IUnknown*>(this);
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
    }
    uint32_t AddRef() override { return ++refs; }
    uint32_t Release() override { return --refs; }  // kept by the test: its count is what is checked
    ComPtr<IUnknown> inner;
    std::atomic<uint32_t> refs{0};
};

}  // namespace

// Server locks and live controls keep the module loaded. The interface table holds every
// control until its registration is revoked, so a control the host has released still lives
// (it may still receive the task queue's events) and still counts.
TEST(ClassFactory, LockCountKeepsTheModuleLoaded)
{
    TempFolder folder;
    LoadedModule module(folder.path() / "libzelvorn2.so");
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.getClassObject(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    auto factory = factoryOf(module);
    EXPECT_EQ(module.canUnloadNow(), S_OK);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    EXPECT_EQ(module.canUnloadNow(), S_FALSE);
    factory->LockServer(false);
    EXPECT_EQ(module.canUnloadNow(), S_OK);

    // Off an apartment the construction fails, plain or aggregated, and nothing stays counted.
    Outer outer;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &out), E_FAIL);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(countOf(outer), 0u);
    EXPECT_EQ(module.canUnloadNow(), S_OK);

    auto page = Apartment::create();
    page->invoke([&] {
        void* raw = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, &raw), S_OK);
        auto control = ComPtr<IDispatch>::adopt(static_cast<IDispatch*>(raw));
        EXPECT_EQ(versionOf(*control.get()), L"1,2,56,31650");
        EXPECT_EQ(module.canUnloadNow(), S_FALSE);
    });
    EXPECT_EQ(module.canUnloadNow(), S_FALSE);
}

// Aggregated, the control's interfaces count on the outer object and answer IUnknown with it.
TEST(ClassFactory, AggregatedControlDelegatesToTheOuterObject)
{
    TempFolder folder;
    LoadedModule module(folder.path() / "libzelvorn2.so");
    auto factory = factoryOf(module);
    auto page = Apartment::create();
    // Never deleted: like the control it stays reachable through the interface table, whose
    // reference to the control is one on the outer object.
    Outer& outer = *new Outer();
    page->invoke([&] {
        void* raw = nullptr;
        EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &raw), CLASS_E_NOAGGREGATION);
        ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &raw), S_OK);
        outer.inner = ComPtr<IUnknown>::adopt(static_cast<IUnknown*>(raw));
        // The inner object's reference and the event sender's, both on the outer object.
        const uint32_t held = countOf(outer);
        EXPECT_EQ(held, 2u);

        ASSERT_EQ(outer.QueryInterface(IID_IDispatch, &raw), S_OK);
        auto dispatch = ComPtr<IDispatch>::adopt(static_cast<IDispatch*>(raw));
        EXPECT_EQ(countOf(outer), held + 1);
        EXPECT_EQ(versionOf(*dispatch.get()), L"1,2,56,31650");
        ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, &raw), S_OK);
        EXPECT_EQ(raw, static_cast<IUnknown*>(&outer));
        static_cast<IUnknown*>(raw)->Release();
        dispatch = ComPtr<IDispatch>();
        EXPECT_EQ(countOf(outer), held);
        EXPECT_EQ(module.canUnloadNow(), S_FALSE);
    });
}
