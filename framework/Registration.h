#pragma once
// Each area of the framework registers its own classes; RegisterFrameworkClasses
// calls them in this order.
namespace fw::detail {
void RegisterCoreClasses();     // Object, Application, Timer, Date, FolderItem, streams
void RegisterNetworkClasses();  // Serial, SerialPort, TCPSocket, ServerSocket
void RegisterGuiClasses();      // Window, controls, Graphics, menus, dialogs
}  // namespace fw::detail
