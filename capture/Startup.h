#pragma once
// Process start: class registration and the start-up routines.
namespace startup {
// Registers the program's classes, after the framework's, in the program's order.
void RegisterProgramClasses();
void _Main();
void _Startup();
void _InitFileTypes();
void _NewAppInstance();
void _ApplicationAddMenuHandlers();
}  // namespace startup
