// The reading of the sequences a device's console sends, a byte at a time: ESC and
// what follows it. What a sequence does to the grid is the screen's (screen.cpp).
#ifndef ORU_SEQUENCES_H
#define ORU_SEQUENCES_H

const unsigned char ESCAPE = 27;
// A control sequence (ESC [ ...) or an escape with intermediates longer than this, and
// an operating system command (ESC ] ...) longer than that, is dropped: what follows
// it shows.
const int MOST_CONTROL_SEQUENCE_BYTES = 64;
const int MOST_COMMAND_STRING_BYTES = 4096;
// Parameters kept of one sequence; any further ones are read and ignored.
const int MOST_SEQUENCE_PARAMETERS = 32;
// A parameter's value stops growing here.
const int LARGEST_SEQUENCE_PARAMETER = 65535;

enum SequenceState {
    SEQUENCE_NONE,
    SEQUENCE_ESCAPE,               // ESC came
    SEQUENCE_ESCAPE_INTERMEDIATE,  // ESC and bytes from 0x20 to 0x2F
    SEQUENCE_CONTROL,              // ESC [
    SEQUENCE_COMMAND_STRING        // ESC ], up to BEL or ESC
};

struct Sequence {
    SequenceState state;
    int length;  // its bytes so far, ESC included
    // Only digits and ';' so far, without intermediates: a sequence the screen may act on.
    bool plain;
    int parameterCount;  // 0 when none was written
    int parameters[MOST_SEQUENCE_PARAMETERS];  // an empty one is 0
};

const Sequence NO_SEQUENCE = {SEQUENCE_NONE, 0, true, 0, {}};

// What a byte did to the sequence under way.
const int SEQUENCE_REFUSED = -1;  // the byte is no part of it: the sequence is dropped,
                                  // and the byte is read afresh
const int SEQUENCE_TAKEN = 0;     // the byte is part of it; nothing to do (yet)
// Otherwise the byte ended a sequence to act on, and is its final byte: a control
// sequence with plain parameters ('m', 'A', 'H', ...), or ESC 7 ('7') or ESC 8 ('8').

// Starts a sequence at an ESC.
void startSequence(Sequence& sequence);
// The next byte of the sequence under way (its state is not SEQUENCE_NONE).
int takeSequenceByte(Sequence& sequence, unsigned char byte);
// Parameter `index`, or `otherwise` when it was not given or is 0.
int sequenceParameter(const Sequence& sequence, int index, int otherwise);

#endif
