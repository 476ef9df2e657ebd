#include "late_task_table.h"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace quarnel::test {

LateTaskTable::LateTaskTable() {
  if (visible()) throw std::logic_error("a task table is already visible to the program");
  handle_ = dlopen(QUARNEL_LATE_TASK_TABLE_PATH, RTLD_NOW | RTLD_GLOBAL);
  if (handle_ == nullptr) {
    const char* error = dlerror();
    throw std::runtime_error(std::string("cannot load the late task table: ") + (error ? error : "?"));
  }
}

LateTaskTable::~LateTaskTable() { dlclose(handle_); }

TapTaskEntry* LateTaskTable::table() const {
  return static_cast<TapTaskEntry*>(dlsym(handle_, "_tapTask"));
}

int32_t* LateTaskTable::index() const { return static_cast<int32_t*>(dlsym(handle_, "_curTapTask")); }

bool LateTaskTable::visible() {
  return dlsym(RTLD_DEFAULT, "_tapTask") != nullptr || dlsym(RTLD_DEFAULT, "_curTapTask") != nullptr;
}

}  // namespace quarnel::test
