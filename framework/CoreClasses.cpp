#include "framework/Application.h"
#include "framework/Date.h"
#include "framework/FolderItem.h"
#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"
#include "framework/Timer.h"
#include "framework/Registration.h"

namespace fw::detail {

void RegisterCoreClasses() {
  RegisterClass(ClassBuilder<Object, Object>("Object", ""));
  RegisterClass(ClassBuilder<Application, Object>("Application", "Object"));
  RegisterClass(ClassBuilder<Timer, Object>("Timer", "Object"));
  RegisterClass(ClassBuilder<Date, Object>("Date", "Object"));
  RegisterClass(ClassBuilder<FolderItem, Object>("FolderItem", "Object"));
  RegisterClass(ClassBuilder<TextInputStream, Object>("TextInputStream", "Object"));
  RegisterClass(ClassBuilder<TextOutputStream, Object>("TextOutputStream", "Object"));
}

}  // namespace fw::detail
