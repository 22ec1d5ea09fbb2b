#include "ModuleHarness.h"

#include "platform/Apartment.h"
#include "platform/ClassFactory.h"
#include "platform/ObjectSafety.h"
#include "platform/ObjectWithSite.h"
#include "platform/ScriptFunction.h"

#include <gtest/gtest.h>

namespace {

const GUID kClsid = {0xA826A674, 0xB4E5, 0x4462, {0xA6, 0xF7, 0xDE, 0xF6, 0x69, 0x69, 0xC1, 0x30}};
const GUID kUnanswered = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

// A control made by the module's class factory on a page thread of its own; `run` gets the
// requested interface there.
template <class Interface>
void withControl(const GUID& iid, const std::function<void(Interface&)>& run)
{
    static TempFolder folder;
    static LoadedModule module(folder.path() / "libzelvorn2.so");
    void* raw = nullptr;
    ASSERT_EQ(module.getClassObject(kClsid, IID_IClassFactory, &raw), S_OK);
    auto factory = ComPtr<IClassFactory>::adopt(static_cast<IClassFactory*>(raw));
    auto page = Apartment::create();
    page->invoke([&] {
        void* made = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, iid, &made), S_OK);
        auto control = ComPtr<Interface>::adopt(static_cast<Interface*>(made));
        run(*control.get());
    });
}

}  // namespace

TEST(HostInterfaces, SafetyOptions)
{
    withControl<IObjectSafety>(IID_IObjectSafety, [](IObjectSafety& safety) {
        uint32_t supported = 7, enabled = 7;
        EXPECT_EQ(safety.GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
        EXPECT_EQ(safety.GetInterfaceSafetyOptions(IID_IDispatch, &supported, nullptr), E_POINTER);
        EXPECT_EQ(safety.GetInterfaceSafetyOptions(kUnanswered, &supported, &enabled), E_NOINTERFACE);
        EXPECT_EQ(supported, 0u);
        EXPECT_EQ(enabled, 0u);
        ASSERT_EQ(safety.GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
        EXPECT_EQ(supported, INTERFACESAFE_FOR_UNTRUSTED_CALLER);
        EXPECT_EQ(enabled, 0u);

        EXPECT_EQ(safety.SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
        safety.GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
        EXPECT_EQ(enabled, 1u);
        // One set of options holds for every interface the control answers.
        safety.GetInterfaceSafetyOptions(IID_IObjectWithSite, &supported, &enabled);
        EXPECT_EQ(enabled, 1u);

        EXPECT_EQ(safety.SetInterfaceSafetyOptions(IID_IDispatch, 2, 2), E_FAIL);
        EXPECT_EQ(safety.SetInterfaceSafetyOptions(kUnanswered, 1, 0), E_NOINTERFACE);
        // Bits outside the mask stay as they are.
        EXPECT_EQ(safety.SetInterfaceSafetyOptions(IID_IDispatch, 0, 0), S_OK);
        safety.GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
        EXPECT_EQ(enabled, 1u);
        EXPECT_EQ(safety.SetInterfaceSafetyOptions(IID_IUnknown, 1, 0), S_OK);
        safety.GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
        EXPECT_EQ(enabled, 0u);
    });
}

TEST(HostInterfaces, SiteIsStoredAndHandedBack)
{
    withControl<IObjectWithSite>(IID_IObjectWithSite, [](IObjectWithSite& control) {
        // Any object will do as the site; a script function is one.
        auto site = ScriptFunction::create([](const std::wstring&) {});
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(control.GetSite(IID_IUnknown, nullptr), E_POINTER);
        EXPECT_EQ(control.GetSite(IID_IUnknown, &out), E_FAIL);
        EXPECT_EQ(out, nullptr);

        EXPECT_EQ(control.SetSite(site.get()), S_OK);
        EXPECT_EQ(countOf(*site.get()), 2u);
        ASSERT_EQ(control.GetSite(IID_IScriptFunction, &out), S_OK);
        EXPECT_EQ(out, site.get());
        static_cast<IUnknown*>(out)->Release();
        EXPECT_EQ(control.GetSite(IID_IDispatch, &out), E_NOINTERFACE);

        EXPECT_EQ(control.SetSite(nullptr), S_OK);
        EXPECT_EQ(countOf(*site.get()), 1u);
        EXPECT_EQ(control.GetSite(IID_IUnknown, &out), E_FAIL);
    });
}
