#include "relay_panel_win/screen_reader_names.h"

// clang-format off
#include <initguid.h>
#include <oleacc.h>
// clang-format on

#include "relay_panel_win/win_text.h"

namespace {
// The system's annotation service, made once per run; null where it is missing.
IAccPropServices* annotations() {
  static IAccPropServices* service = [] {
    IAccPropServices* made = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&made)))) {
      return static_cast<IAccPropServices*>(nullptr);
    }
    return made;
  }();
  return service;
}
}  // namespace

void set_spoken_name(HWND control, const std::string& name) {
  if (IAccPropServices* service = annotations()) {
    service->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_NAME,
                            wide(name).c_str());
  }
}

void hide_from_screen_readers(HWND control) {
  if (IAccPropServices* service = annotations()) {
    VARIANT state;
    VariantInit(&state);
    state.vt = VT_I4;
    state.lVal = STATE_SYSTEM_INVISIBLE;
    service->SetHwndProp(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_STATE, state);
  }
}
