// Morvik Verify for C++: the SDK's umbrella header.
#pragma once
