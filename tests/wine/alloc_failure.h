// Shared by the Windows fault tests.
#pragma once

using Check = void (*)(bool ok, const char* scenario, const char* what);

// Fails each allocation of one call in turn and reports through `check`.
void allocationFailureTests(Check check);
