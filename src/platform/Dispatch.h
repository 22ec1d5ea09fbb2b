// Scripting by name: IDispatch, the argument variant and the DispatchTable that maps member
// names to dispatch ids. Hosts script a control by asking the id of a name and invoking it.
#pragma once

#include "platform/ScriptFunction.h"
#include "platform/Unknown.h"

#include <string>
#include <vector>

using DISPID = int32_t;

enum class DispatchKind { Method, PropertyGet, PropertyPut };

// One argument or result: empty, a text (wide, or UTF-8 as a host that holds it so passes it),
// or a script function.
struct Variant {
    enum class Type { Empty, Text, Utf8Text, Function };
    Type type = Type::Empty;
    std::wstring text;
    std::string utf8;
    ComPtr<ScriptFunction> function;

    static Variant fromText(std::wstring t)
    {
        Variant v;
        v.type = Type::Text;
        v.text = std::move(t);
        return v;
    }
    static Variant fromUtf8Text(std::string t)
    {
        Variant v;
        v.type = Type::Utf8Text;
        v.utf8 = std::move(t);
        return v;
    }
    static Variant fromFunction(ComPtr<ScriptFunction> f)
    {
        Variant v;
        v.type = Type::Function;
        v.function = std::move(f);
        return v;
    }
};

struct IDispatch : IUnknown {
    static const GUID& uuid() { return IID_IDispatch; }

    virtual HRESULT GetIDsOfNames(const std::wstring& name, DISPID* id) = 0;
    virtual HRESULT Invoke(DISPID id, DispatchKind kind, std::vector<Variant>& args, Variant* result) = 0;
};

// A member of a scriptable interface as its type information describes it.
struct DispatchMember {
    std::wstring name;
    DISPID id;
    DispatchKind kind;
    std::wstring helpString;
};

class DispatchTable {
public:
    explicit DispatchTable(std::vector<DispatchMember> members) : entries(std::move(members)) {}

    // Exact, case-sensitive lookup; DISP_E_UNKNOWNNAME for a name the interface lacks.
    HRESULT idOfName(const std::wstring& name, DISPID* id) const;
    // The member with that id, or null.
    const DispatchMember* find(DISPID id) const;
    const std::vector<DispatchMember>& members() const { return entries; }

private:
    std::vector<DispatchMember> entries;
};
