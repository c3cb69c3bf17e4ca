#include "generator.h"

#include <QRandomGenerator>

UnitDraw SystemDraw() {
    // The time of day would make proposals guessable from the moment of the
    // press, so each press draws from the operating system's source instead.
    QRandomGenerator *source = QRandomGenerator::system();
    return [source] { return source->generateDouble(); };
}

bool AcceptedCode(int level, int code) {
    const bool digitOrUpper = (code >= 49 && code <= 57) || (code >= 65 && code <= 90);
    if (level == 3)
        return digitOrUpper || (code >= 97 && code <= 122);
    return digitOrUpper;
}

int ProposalLength(int level, int count) {
    switch (level) {
    case 1:
        return 6;
    case 2:
        return 8;
    case 3:
        return std::clamp(count, 0, kMaxProposalLength);
    default:
        return 0;
    }
}

QByteArray GenerateProposal(int level, int count, const UnitDraw &draw) {
    QByteArray proposal;
    const int length = ProposalLength(level, count);
    proposal.reserve(length);
    for (int i = 0; i < length; ++i) {
        int code = 0;
        do {
            code = static_cast<int>(draw() * 255) + 1;
        } while (!AcceptedCode(level, code));
        proposal.append(static_cast<char>(code));
    }
    return proposal;
}

QByteArray ProposalText(const QByteArray &proposal) {
    return proposal + "         (  " + proposal.toLower() + "  )";
}
