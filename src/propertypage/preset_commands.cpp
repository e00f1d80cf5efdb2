#include "propertypage/adapter_property_page.h"

namespace brvst {

void AdapterPropertyPage::OnProgramName(HWND) {}
void AdapterPropertyPage::OnLoadPreset() {}
void AdapterPropertyPage::OnSavePreset() {}
void AdapterPropertyPage::OnLoadBank() {}
void AdapterPropertyPage::OnSaveBank() {}

}  // namespace brvst
