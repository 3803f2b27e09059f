#!/usr/bin/env python3
"""Writes the example client's catalogue: client/catalogue/Secs_e.sml (name,
header and SML body of each message) and client/catalogue/SEMI_II.txt (its
description, structure and exceptions), both in the same message order.

Run it after changing the table below:  python3 tools/catalogue/make_catalogue.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "..", "client", "catalogue")

# (stream, function, wait, name, body lines, description, structure, exceptions)
M = []


def msg(s, f, w, name, body, desc, struct, exc=()):
    M.append((s, f, w, name, body, desc, struct, exc))


TEN = "<B 0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x03>"

msg(1, 1, True, "Are You There Request", [],
    ["Asks the other side whether it is on line. The host sends it to the",
     "equipment, or the equipment to the host; the answer is S1F2."],
    ["Header only."])
msg(1, 2, False, "On Line Data",
    ["<L", "  <A 'TARVO-EQ'>", "  <A '1.0.0'>", ">"],
    ["Answers S1F1: the equipment names its model and software revision.",
     "Sent by the host, the list is empty."],
    ["<L[2]", "  <A MDLN>     equipment model type", "  <A SOFTREV>  software revision", ">"])
msg(1, 3, True, "Selected Equipment Status Request",
    ["<L", "  <U4 1>", "  <U4 2>", ">"],
    ["The host asks for the current values of the status variables it names;",
     "an empty list asks for all of them."],
    ["<L[n]", "  <U4 SVID>  status variable id", ">"])
msg(1, 4, False, "Selected Equipment Status Data",
    ["<L", "  <U4 0>", "  <A 'IDLE'>", ">"],
    ["The values asked for in S1F3, in the same order. A variable that does",
     "not exist is answered with a zero-length item."],
    ["<L[n]", "  <SV>  any item type", ">"])
msg(1, 13, True, "Establish Communications Request",
    ["<L", ">"],
    ["Opens communication after a start or a loss of contact. The equipment",
     "sends its model and revision; the host sends an empty list."],
    ["<L[2] <A MDLN> <A SOFTREV>>  from the equipment", "<L[0]>                        from the host"])
msg(1, 14, False, "Establish Communications Request Acknowledge",
    ["<L", "  <B 0x00>", "  <L", "    <A 'TARVO-EQ'>", "    <A '1.0.0'>", "  >", ">"],
    ["Answers S1F13. COMMACK 0 accepts, 1 refuses; the equipment adds its",
     "model and revision."],
    ["<L[2]", "  <B COMMACK>", "  <L[2] <A MDLN> <A SOFTREV>>", ">"],
    ["COMMACK: 0 accepted, 1 denied, try again."])
msg(1, 15, True, "Request OFF-LINE", [],
    ["The host asks the equipment to go off line."],
    ["Header only."])
msg(1, 16, False, "OFF-LINE Acknowledge",
    ["<B 0x00>"],
    ["Answers S1F15."],
    ["<B OFLACK>  0 off line acknowledged"])
msg(1, 17, True, "Request ON-LINE", [],
    ["The host asks the equipment to go on line."],
    ["Header only."])
msg(1, 18, False, "ON-LINE Acknowledge",
    ["<B 0x00>"],
    ["Answers S1F17."],
    ["<B ONLACK>"],
    ["ONLACK: 0 accepted, 1 not allowed, 2 already on line."])
msg(2, 13, True, "Equipment Constant Request",
    ["<L", "  <U4 10>", "  <U4 11>", ">"],
    ["The host asks for the values of the equipment constants it names;",
     "an empty list asks for all of them."],
    ["<L[n]", "  <U4 ECID>  equipment constant id", ">"])
msg(2, 14, False, "Equipment Constant Data",
    ["<L", "  <U4 300>", "  <A 'AUTO'>", ">"],
    ["The values asked for in S2F13, in the same order."],
    ["<L[n]", "  <ECV>  any item type", ">"])
msg(2, 15, True, "New Equipment Constant Send",
    ["<L", "  <L", "    <U4 10>", "    <U4 350>", "  >", ">"],
    ["The host changes one or more equipment constants."],
    ["<L[n]", "  <L[2] <U4 ECID> <ECV>>", ">"])
msg(2, 16, False, "New Equipment Constant Acknowledge",
    ["<B 0x00>"],
    ["Answers S2F15; no constant changes unless all can."],
    ["<B EAC>"],
    ["EAC: 0 accepted, 1 a constant does not exist, 2 busy, 3 out of range."])
msg(2, 17, True, "Date and Time Request", [],
    ["Either side asks the other for its clock."],
    ["Header only."])
msg(2, 18, False, "Date and Time Data",
    ["<A '2026120712000000'>"],
    ["The clock as YYYYMMDDhhmmsscc (or the older 12-character form)."],
    ["<A TIME>"])
msg(2, 29, True, "Equipment Constant Namelist Request",
    ["<L", "  <U4 10>", ">"],
    ["The host asks for the names, limits, defaults and units of constants;",
     "an empty list asks for all of them."],
    ["<L[n]", "  <U4 ECID>", ">"])
msg(2, 30, False, "Equipment Constant Namelist",
    ["<L", "  <L", "    <U4 10>", "    <A 'ChamberTemp'>", "    <U4 0>", "    <U4 500>",
     "    <U4 300>", "    <A 'C'>", "  >", ">"],
    ["One list per constant asked for in S2F29."],
    ["<L[n]", "  <L[6] <U4 ECID> <A ECNAME> <ECMIN> <ECMAX> <ECDEF> <A UNITS>>", ">"])
msg(2, 31, True, "Date and Time Set Request",
    ["<A '2026120712000000'>"],
    ["The host sets the equipment's clock."],
    ["<A TIME>"])
msg(2, 32, False, "Date and Time Set Acknowledge",
    ["<B 0x00>"],
    ["Answers S2F31."],
    ["<B TIACK>"],
    ["TIACK: 0 accepted, 1 not done."])
msg(2, 33, True, "Define Report",
    ["<L", "  <U4 1>", "  <L", "    <L", "      <U4 100>", "      <L", "        <U4 1>",
     "        <U4 2>", "      >", "    >", "  >", ">"],
    ["The host defines reports as lists of variables; a report with an empty",
     "variable list is deleted, an empty report list deletes all reports."],
    ["<L[2]", "  <U4 DATAID>", "  <L[n]", "    <L[2] <U4 RPTID> <L[m] <U4 VID>>>", "  >", ">"])
msg(2, 34, False, "Define Report Acknowledge",
    ["<B 0x00>"],
    ["Answers S2F33."],
    ["<B DRACK>"],
    ["DRACK: 0 accepted, 1 no space, 2 invalid format, 3 a report exists, 4 a variable does not exist."])
msg(2, 35, True, "Link Event Report",
    ["<L", "  <U4 1>", "  <L", "    <L", "      <U4 4001>", "      <L", "        <U4 100>",
     "      >", "    >", "  >", ">"],
    ["The host links reports to collection events."],
    ["<L[2]", "  <U4 DATAID>", "  <L[n]", "    <L[2] <U4 CEID> <L[m] <U4 RPTID>>>", "  >", ">"])
msg(2, 36, False, "Link Event Report Acknowledge",
    ["<B 0x00>"],
    ["Answers S2F35."],
    ["<B LRACK>"],
    ["LRACK: 0 accepted, 1 no space, 2 invalid format, 3 a link exists, 4 an event or report does not exist."])
msg(2, 37, True, "Enable/Disable Event Report",
    ["<L", "  <Bool 1>", "  <L", "    <U4 4001>", "  >", ">"],
    ["The host switches the reports of collection events on or off; an empty",
     "list means every event."],
    ["<L[2]", "  <Bool CEED>", "  <L[n] <U4 CEID>>", ">"])
msg(2, 38, False, "Enable/Disable Event Report Acknowledge",
    ["<B 0x00>"],
    ["Answers S2F37."],
    ["<B ERACK>"],
    ["ERACK: 0 accepted, 1 an event does not exist."])
msg(2, 39, True, "Multi-block Inquire",
    ["<L", "  <U4 1>", "  <U4 600>", ">"],
    ["Before a long message the host asks whether the equipment takes it."],
    ["<L[2]", "  <U4 DATAID>", "  <U4 DATALENGTH>", ">"])
msg(2, 40, False, "Multi-block Grant",
    ["<B 0x00>"],
    ["Answers S2F39."],
    ["<B GRANT>"],
    ["GRANT: 0 granted, 1 busy, 2 no space, 3 duplicate data id."])
msg(2, 41, True, "Host Command Send",
    ["<L", "  <A 'START'>", "  <L", "    <L", "      <A 'PPID'>", "      <A 'RCP-17'>", "    >",
     "  >", ">"],
    ["The host asks the equipment to carry out a remote command with named",
     "parameters."],
    ["<L[2]", "  <A RCMD>", "  <L[n]", "    <L[2] <A CPNAME> <CPVAL>>", "  >", ">"])
msg(2, 42, False, "Host Command Acknowledge",
    ["<L", "  <B 0x00>", "  <L", "  >", ">"],
    ["Answers S2F41; the list names parameters that were refused."],
    ["<L[2]", "  <B HCACK>", "  <L[n] <L[2] <A CPNAME> <B CPACK>>>", ">"],
    ["HCACK: 0 done, 1 no such command, 2 cannot do now, 3 a parameter is wrong, 4 will be done."])
msg(5, 1, True, "Alarm Report Send",
    ["<L", "  <B 0x84>", "  <U4 7001>", "  <A 'Chamber pressure high'>", ">"],
    ["The equipment reports an alarm being set or cleared. Bit 8 of ALCD",
     "set means the alarm is on."],
    ["<L[3]", "  <B ALCD>   alarm code", "  <U4 ALID>  alarm id", "  <A ALTX>   alarm text", ">"])
msg(5, 2, False, "Alarm Report Acknowledge",
    ["<B 0x00>"],
    ["Answers S5F1."],
    ["<B ACKC5>"],
    ["ACKC5: 0 accepted, any other value an error."])
msg(6, 11, True, "Event Report Send",
    ["<L", "  <U4 1>", "  <U4 4001>", "  <L", "    <L", "      <U4 100>", "      <L", "        <U4 300>",
     "        <A 'IDLE'>", "      >", "    >", "  >", ">"],
    ["The equipment reports a collection event with the reports linked to it."],
    ["<L[3]", "  <U4 DATAID>", "  <U4 CEID>", "  <L[n]", "    <L[2] <U4 RPTID> <L[m] <V>>>", "  >", ">"])
msg(6, 12, False, "Event Report Acknowledge",
    ["<B 0x00>"],
    ["Answers S6F11."],
    ["<B ACKC6>"],
    ["ACKC6: 0 accepted, any other value an error."])
msg(7, 1, True, "Process Program Load Inquire",
    ["<L", "  <A 'RCP-17'>", "  <U4 2048>", ">"],
    ["Before sending a process program, its sender asks whether the other side",
     "takes one of that length."],
    ["<L[2]", "  <A PPID>", "  <U4 LENGTH>", ">"])
msg(7, 2, False, "Process Program Load Grant",
    ["<B 0x00>"],
    ["Answers S7F1."],
    ["<B PPGNT>"],
    ["PPGNT: 0 granted, 1 already have, 2 no space, 3 invalid id, 4 busy, 5 will not accept."])
msg(7, 3, True, "Process Program Send",
    ["<L", "  <A 'RCP-17'>", "  <B 0x01 0x02 0x03 0x04>", ">"],
    ["Sends a process program, as text or binary body."],
    ["<L[2]", "  <A PPID>", "  <B PPBODY>", ">"])
msg(7, 4, False, "Process Program Acknowledge",
    ["<B 0x00>"],
    ["Answers S7F3."],
    ["<B ACKC7>"],
    ["ACKC7: 0 accepted, 1 permission not granted, 2 length error, 3 matrix overflow, 4 id not found."])
msg(7, 5, True, "Process Program Request",
    ["<A 'RCP-17'>"],
    ["Asks the other side for the process program it names."],
    ["<A PPID>"])
msg(7, 6, False, "Process Program Data",
    ["<L", "  <A 'RCP-17'>", "  <B 0x01 0x02 0x03 0x04>", ">"],
    ["Answers S7F5; an empty list means the program does not exist."],
    ["<L[2]", "  <A PPID>", "  <B PPBODY>", ">"])
msg(7, 19, True, "Current EPPD Request", [],
    ["The host asks which process programs the equipment holds."],
    ["Header only."])
msg(7, 20, False, "Current EPPD Data",
    ["<L", "  <A 'RCP-17'>", "  <A 'RCP-18'>", ">"],
    ["Answers S7F19 with the ids of the stored process programs."],
    ["<L[n]", "  <A PPID>", ">"])
msg(9, 1, False, "Unrecognized Device ID", [TEN],
    ["The equipment received a message for a device id it does not have."],
    ["<B MHEAD>  the ten header bytes of the message"])
msg(9, 3, False, "Unrecognized Stream Type", [TEN],
    ["The equipment received a message of a stream it does not know."],
    ["<B MHEAD>"])
msg(9, 5, False, "Unrecognized Function Type", [TEN],
    ["The equipment received a message of a function it does not know."],
    ["<B MHEAD>"])
msg(9, 7, False, "Illegal Data", [TEN],
    ["The equipment received a message whose data it cannot take."],
    ["<B MHEAD>"])
msg(9, 9, False, "Transaction Timer Timeout", [TEN],
    ["A reply did not come within T3."],
    ["<B SHEAD>  the ten header bytes of the message that got no reply"])
msg(9, 11, False, "Data Too Long", [TEN],
    ["The equipment received a message longer than it can take."],
    ["<B MHEAD>"])
msg(9, 13, False, "Conversation Timeout",
    ["<L", "  <A 'S7F3'>", "  <A 'RCP-17'>", ">"],
    ["A conversation that was granted did not go on in time."],
    ["<L[2]", "  <A MEXP>  the message expected", "  <A EDID>  its data id", ">"])
msg(10, 1, True, "Terminal Request",
    ["<L", "  <B 0x00>", "  <A 'Operator call at chamber A'>", ">"],
    ["The equipment's operator sends a text to the host."],
    ["<L[2]", "  <B TID>   terminal number", "  <A TEXT>", ">"])
msg(10, 2, False, "Terminal Request Acknowledge",
    ["<B 0x00>"],
    ["Answers S10F1."],
    ["<B ACKC10>"],
    ["ACKC10: 0 accepted, 1 will not display, 2 terminal not available."])
msg(10, 3, True, "Terminal Display, Single",
    ["<L", "  <B 0x00>", "  <A 'Lot L-0042 is ready'>", ">"],
    ["The host shows one line of text on the equipment's terminal."],
    ["<L[2]", "  <B TID>", "  <A TEXT>", ">"])
msg(10, 4, False, "Terminal Display, Single Acknowledge",
    ["<B 0x00>"],
    ["Answers S10F3."],
    ["<B ACKC10>"])


def main():
    sml = ["/* Tarvo example client catalogue: messages to pick, edit and send. */", ""]
    txt = ["Tarvo example client catalogue: what each message of Secs_e.sml means.", ""]
    for s, f, w, name, body, desc, struct, exc in M:
        sml.append("/* %s */" % name)
        head = "S%dF%d%s" % (s, f, " W" if w else "")
        if body:
            sml.append(head)
            sml.extend(body[:-1])
            sml.append(body[-1] + ".")
        else:
            sml.append(head + ".")
        sml.append("")
        txt.append("S%d,F%d %s" % (s, f, name))
        txt.append("Description: " + desc[0])
        txt.extend(desc[1:])
        txt.append("Structure: " + struct[0])
        txt.extend(struct[1:])
        if exc:
            txt.append("Exception: " + exc[0])
            txt.extend(exc[1:])
        txt.append("")
    for name, lines in (("Secs_e.sml", sml), ("SEMI_II.txt", txt)):
        for l in lines:
            assert len(l) < 127, l
        with open(os.path.join(OUT, name), "w", newline="\n") as out:
            out.write("\n".join(lines) + "\n")
    print("%d messages" % len(M))


if __name__ == "__main__":
    import sys
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    if len(sys.argv) > 1:
        print("make_catalogue.py: takes no arguments, not '%s' (see --help)" % sys.argv[1], file=sys.stderr)
        sys.exit(2)
    main()
