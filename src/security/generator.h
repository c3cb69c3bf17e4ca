#pragma once

#include <QByteArray>

#include <functional>

// Password proposals at three levels: 6 or 8 characters of 1-9 and A-Z, or a
// chosen number of 1-9, A-Z and a-z. The digit 0 is never proposed.

// The largest level-3 count: the count and its loop are 16-bit.
inline constexpr int kMaxProposalLength = 32766;

// A uniform number in [0, 1).
using UnitDraw = std::function<double()>;

// A fresh draw from the system's cryptographic source, taken at each press.
UnitDraw SystemDraw();

bool AcceptedCode(int level, int code);
int ProposalLength(int level, int count);
QByteArray GenerateProposal(int level, int count, const UnitDraw &draw);

// What the password box receives: the proposal, then the same in lower case
// in parentheses.
QByteArray ProposalText(const QByteArray &proposal);
