// The adapter DLL's exported entry points.
#pragma once

#include "platform/platform.h"

BRVST_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
BRVST_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow();
BRVST_EXPORT void STDAPICALLTYPE InitAdapterResources();
BRVST_EXPORT HRESULT STDAPICALLTYPE ReleaseAdapterResources();
BRVST_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
BRVST_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer();
BRVST_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer();
