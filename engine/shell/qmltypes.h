#pragma once

// Makes the engine's C++ types known to the pages under the module "Quillfen".
// Called once, before the first document is loaded.
void registerQuillfenTypes();
