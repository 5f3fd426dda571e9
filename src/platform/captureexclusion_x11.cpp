#include "platform/captureexclusion.h"

void CaptureExclusion::exclude(QWidget* window)
{
    static_cast<void>(window);
}
