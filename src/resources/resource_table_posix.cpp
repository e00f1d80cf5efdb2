// The adapter's resource table, exported under the name the platform looks for in a module.
#include "platform/platform.h"
#include "resources/resource_tables.h"

BRVST_EXPORT const brvst::platform::ResourceTable BrvstResourceTable = {
    brvst::platform::kResourceTableVersion,
    brvst::resources::kDialogTemplates,
    brvst::resources::kBitmapTemplates,
};
