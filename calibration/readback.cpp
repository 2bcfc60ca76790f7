#include "calibration/readback.h"

#include "calibration/calibration.h"
#include "platform/userint.h"
#include "record/record.h"
#include "shell/state.h"

#include <cstdio>

namespace qv {

using namespace rt;

void CheckReadBack(const std::uint16_t (&sent)[3], bool readBack) {
    // Written first: the record stays right even if the program is ended at the box.
    RecordFinish(sent, readBack);
    if (!readBack || (cfrot == sent[0] && cfgruen == sent[1] && cfblau == sent[2]))
        return;
    char text[400];
    std::snprintf(text, sizeof text,
                  " The calibration factors read back differ from those sent. \n "
                  "Sent: RED %u, GREEN %u, BLUE %u \n Read back: RED %u, GREEN %u, BLUE %u \n The "
                  "sensor may not have stored them. \n Repeat FINISH CALIBRATION. ",
                  unsigned{sent[0]}, unsigned{sent[1]}, unsigned{sent[2]}, unsigned{cfrot},
                  unsigned{cfgruen}, unsigned{cfblau});
    MessagePopup("ATTENTION!", text);
}

} // namespace qv
