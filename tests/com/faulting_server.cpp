// A COM server whose class object request faults, as a broken server's might: for the fault
// trap around unregistration.
#include "platform/platform.h"

namespace {
// Written through a volatile pointer, so the compiler cannot replace the fault with a trap.
volatile int* volatile nullTarget = nullptr;
}  // namespace

BRVST_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID, LPVOID* ppv) {
  *nullTarget = 1;
  *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
