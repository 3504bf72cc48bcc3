#include "terminal/sequences.h"

namespace {

const unsigned char BELL = 7;

bool isIntermediate(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x2F;
}

bool isParameterByte(unsigned char byte) {
    return byte >= 0x30 && byte <= 0x3F;
}

bool isControlFinal(unsigned char byte) {
    return byte >= 0x40 && byte <= 0x7E;
}

bool isEscapeFinal(unsigned char byte) {
    return byte >= 0x30 && byte <= 0x7E;
}

void endSequence(Sequence& sequence) {
    sequence.state = SEQUENCE_NONE;
}

// A parameter byte of a control sequence: digits make the parameter, ';' starts the
// next; any other (a private marker, ':') makes the sequence one to consume only.
void takeParameterByte(Sequence& sequence, unsigned char byte) {
    if (byte != ';' && (byte < '0' || byte > '9')) {
        sequence.plain = false;
        return;
    }
    if (sequence.parameterCount == 0) sequence.parameterCount = 1;
    if (byte == ';') {
        if (sequence.parameterCount < MOST_SEQUENCE_PARAMETERS) sequence.parameters[sequence.parameterCount] = 0;
        sequence.parameterCount++;
        return;
    }
    if (sequence.parameterCount > MOST_SEQUENCE_PARAMETERS) return;
    int& value = sequence.parameters[sequence.parameterCount - 1];
    value = value * 10 + (byte - '0');
    if (value > LARGEST_SEQUENCE_PARAMETER) value = LARGEST_SEQUENCE_PARAMETER;
}

int takeEscapeByte(Sequence& sequence, unsigned char byte) {
    if (sequence.state == SEQUENCE_ESCAPE) {
        if (byte == '[') {
            sequence.state = SEQUENCE_CONTROL;
            return SEQUENCE_TAKEN;
        }
        if (byte == ']') {
            sequence.state = SEQUENCE_COMMAND_STRING;
            return SEQUENCE_TAKEN;
        }
        if (byte == '7' || byte == '8') {
            endSequence(sequence);
            return byte;
        }
    }
    if (isIntermediate(byte)) {
        sequence.state = SEQUENCE_ESCAPE_INTERMEDIATE;
        return SEQUENCE_TAKEN;
    }
    if (isEscapeFinal(byte)) {
        endSequence(sequence);
        return SEQUENCE_TAKEN;
    }
    endSequence(sequence);
    return SEQUENCE_REFUSED;
}

int takeControlByte(Sequence& sequence, unsigned char byte) {
    if (isParameterByte(byte)) {
        takeParameterByte(sequence, byte);
        return SEQUENCE_TAKEN;
    }
    if (isIntermediate(byte)) {
        sequence.plain = false;
        return SEQUENCE_TAKEN;
    }
    endSequence(sequence);
    if (isControlFinal(byte)) return sequence.plain ? byte : SEQUENCE_TAKEN;
    return SEQUENCE_REFUSED;
}

}  // namespace

// Only what the sequence reads before it writes: each parameter after the first is
// zeroed as the ';' before it comes, and only those given are read. Cheaper than a
// whole fresh sequence, which a colourful log starts twice a line.
void startSequence(Sequence& sequence) {
    sequence.state = SEQUENCE_ESCAPE;
    sequence.length = 1;
    sequence.plain = true;
    sequence.parameterCount = 0;
    sequence.parameters[0] = 0;
}

int takeSequenceByte(Sequence& sequence, unsigned char byte) {
    if (byte == ESCAPE) {  // a new sequence, whatever came before
        startSequence(sequence);
        return SEQUENCE_TAKEN;
    }
    sequence.length++;
    int result = SEQUENCE_TAKEN;
    switch (sequence.state) {
    case SEQUENCE_ESCAPE:
    case SEQUENCE_ESCAPE_INTERMEDIATE: result = takeEscapeByte(sequence, byte); break;
    case SEQUENCE_CONTROL: result = takeControlByte(sequence, byte); break;
    case SEQUENCE_COMMAND_STRING:
        if (byte == BELL) endSequence(sequence);
        else if (sequence.length >= MOST_COMMAND_STRING_BYTES) endSequence(sequence);
        return SEQUENCE_TAKEN;
    default: return SEQUENCE_REFUSED;
    }
    if (result == SEQUENCE_TAKEN && sequence.state != SEQUENCE_NONE &&
        sequence.length >= MOST_CONTROL_SEQUENCE_BYTES) {
        endSequence(sequence);  // too long: dropped
    }
    return result;
}

int sequenceParameter(const Sequence& sequence, int index, int otherwise) {
    if (index >= sequence.parameterCount || index >= MOST_SEQUENCE_PARAMETERS) return otherwise;
    const int value = sequence.parameters[index];
    return value != 0 ? value : otherwise;
}
