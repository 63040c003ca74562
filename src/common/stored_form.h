// SPDX-License-Identifier: Apache-2.0
// The stored text form of components: their published properties, written and read.
//
//   object Form1: TMainWindow
//     Caption = 'Wireless Console Test'
//     object ComPort1: TComPort
//       BaudRate = br115200
//       Parity.Check = True
//     end
//   end
//
// Values equal to their declared default are not written; reading leaves every property
// that the text does not name at the value the constructor gave it. Nested objects name
// components owned by the root (or by those), found by name.
#pragma once

#include <stdexcept>
#include <string>

#include "common/component.h"

namespace wct {

class EStoredForm : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The stored form of `root` and every named component it owns.
std::string WriteComponent(TComponent& root);

// Sets the properties the text names, with every component concerned in the loading
// state, then runs Loaded on each in the order they were read. Unknown components,
// unknown properties and unreadable values raise EStoredForm with the line, the
// component and the property named; the components are still taken out of the loading
// state.
void ReadComponent(const std::string& text, TComponent& root);

}  // namespace wct
