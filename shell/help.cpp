#include "shell/help.h"

#include "platform/userint.h"

namespace qv {

int HelpOnRightClick(int event, const char *text) {
    if (event == rt::EVENT_RIGHT_CLICK)
        rt::MessagePopup("INFO!", text);
    return 0;
}

} // namespace qv
