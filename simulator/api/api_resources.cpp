// Resources of the program's module: finding, loading, icons.
#include "simulator/api/platform_call.h"
#include "simulator/wince/winapi.h"

using sim::json;
using sim::PlatformCall;

namespace {

// A resource name or type as the program passes it: an ordinal made with
// MAKEINTRESOURCE, or a string.
sim::ResId res_id(LPCWSTR name) {
    if (IS_INTRESOURCE(name)) {
        return sim::ResId::number(
            static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(name)));
    }
    std::u16string text;
    for (std::size_t i = 0; i < 256 && name[i] != 0; ++i) {
        text.push_back(name[i]);
    }
    return sim::ResId::text(text);
}

bool our_module(HMODULE module) {
    return module == sim::Device::current().module().instance();
}

}  // namespace

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    PlatformCall call("FindResourceW");
    const sim::ResId id = name == nullptr ? sim::ResId{} : res_id(name);
    const sim::ResId kind = type == nullptr ? sim::ResId{} : res_id(type);
    const sim::ResourceEntry* entry = our_module(module) && name != nullptr && type != nullptr
                                          ? call.device().module().find(kind, id)
                                          : nullptr;
    SIM_LOG_CALL(call, {"module", id.to_string(), kind.to_string()},
                 entry != nullptr ? "found" : "NULL");
    return reinterpret_cast<HRSRC>(const_cast<sim::ResourceEntry*>(entry));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    PlatformCall call("LoadResource");
    const auto* entry = reinterpret_cast<const sim::ResourceEntry*>(resource);
    const bool known = call.device().module().holds(entry);
    HGLOBAL data = our_module(module) && known && !entry->data.empty()
                       ? const_cast<void*>(call.device().module().data_of(*entry))
                       : nullptr;
    SIM_LOG_CALL(call, {"module", resource == nullptr ? "NULL" : "resource"},
                 data != nullptr ? "data" : "NULL");
    return data;
}

namespace {

HICON load_icon(PlatformCall& call, HINSTANCE instance, LPCWSTR name, int cx, int cy, bool shared,
                json args) {
    std::string error;
    HICON icon = nullptr;
    if (!our_module(instance)) {
        error = "only the program's own icons are available";
    } else if (name == nullptr || !IS_INTRESOURCE(name)) {
        error = "icons are named by number";
    } else {
        const auto id = static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(name));
        auto loaded = call.device().icons().load(call.device().module(), id, cx, cy, shared);
        if (loaded.ok()) {
            icon = loaded.value();
        } else {
            error = loaded.error().message;
        }
    }
    SIM_LOG_CALL(
        call, std::move(args),
        icon != nullptr ? json(sim::hex(reinterpret_cast<std::uintptr_t>(icon))) : json(nullptr),
        error);
    return icon;
}

}  // namespace

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    PlatformCall call("LoadIconW");
    // LoadIcon gives the icon at the system's icon size, 32 x 32, shared: the
    // same handle every time, never destroyed.
    return load_icon(call, instance, name, 32, 32, true, {"instance", res_id(name).to_string()});
}

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags) {
    PlatformCall call("LoadImageW");
    json args = {"instance", name == nullptr ? "NULL" : res_id(name).to_string(), type, cx, cy,
                 flags};
    if (type != IMAGE_ICON) {
        SIM_LOG_CALL(call, std::move(args), nullptr, "only icons are supported");
        return nullptr;
    }
    // Without LR_SHARED every call makes a new icon, the caller's to destroy.
    return load_icon(call, instance, name, cx == 0 ? 32 : cx, cy == 0 ? 32 : cy,
                     (flags & LR_SHARED) != 0, std::move(args));
}

BOOL DestroyIcon(HICON icon) {
    PlatformCall call("DestroyIcon");
    const bool destroyed = call.device().icons().destroy(icon);
    SIM_LOG_CALL(call, {sim::hex(reinterpret_cast<std::uintptr_t>(icon))}, destroyed ? TRUE : FALSE,
                 destroyed ? "" : "not an icon of the program's own");
    return destroyed ? TRUE : FALSE;
}
