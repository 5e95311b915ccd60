// The current front end: the view the program's windows run on.
#include "platform/View.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<View*> currentView{nullptr};
}

void SetView(View* view) { currentView = view; }
View* CurrentView() { return currentView.load(); }

}  // namespace platform
