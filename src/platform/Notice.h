#pragma once
#include <QString>
#include <vector>

#include "UiServices.h"

namespace snapmend {

// A message for the person, produced by code without widgets and shown by the
// window that called it, in order.
struct Notice {
    QString text;
    QString caption = kMessageCaption;
    unsigned flags = MB_OK;
};
using Notices = std::vector<Notice>;

}  // namespace snapmend
