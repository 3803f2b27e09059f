/* Tarvo example client catalogue: messages to pick, edit and send. */

/* Are You There Request */
S1F1 W.

/* On Line Data */
S1F2
<L
  <A 'TARVO-EQ'>
  <A '1.0.0'>
>.

/* Selected Equipment Status Request */
S1F3 W
<L
  <U4 1>
  <U4 2>
>.

/* Selected Equipment Status Data */
S1F4
<L
  <U4 0>
  <A 'IDLE'>
>.

/* Establish Communications Request */
S1F13 W
<L
>.

/* Establish Communications Request Acknowledge */
S1F14
<L
  <B 0x00>
  <L
    <A 'TARVO-EQ'>
    <A '1.0.0'>
  >
>.

/* Request OFF-LINE */
S1F15 W.

/* OFF-LINE Acknowledge */
S1F16
<B 0x00>.

/* Request ON-LINE */
S1F17 W.

/* ON-LINE Acknowledge */
S1F18
<B 0x00>.

/* Equipment Constant Request */
S2F13 W
<L
  <U4 10>
  <U4 11>
>.

/* Equipment Constant Data */
S2F14
<L
  <U4 300>
  <A 'AUTO'>
>.

/* New Equipment Constant Send */
S2F15 W
<L
  <L
    <U4 10>
    <U4 350>
  >
>.

/* New Equipment Constant Acknowledge */
S2F16
<B 0x00>.

/* Date and Time Request */
S2F17 W.

/* Date and Time Data */
S2F18
<A '2026120712000000'>.

/* Equipment Constant Namelist Request */
S2F29 W
<L
  <U4 10>
>.

/* Equipment Constant Namelist */
S2F30
<L
  <L
    <U4 10>
    <A 'ChamberTemp'>
    <U4 0>
    <U4 500>
    <U4 300>
    <A 'C'>
  >
>.

/* Date and Time Set Request */
S2F31 W
<A '2026120712000000'>.

/* Date and Time Set Acknowledge */
S2F32
<B 0x00>.

/* Define Report */
S2F33 W
<L
  <U4 1>
  <L
    <L
      <U4 100>
      <L
        <U4 1>
        <U4 2>
      >
    >
  >
>.

/* Define Report Acknowledge */
S2F34
<B 0x00>.

/* Link Event Report */
S2F35 W
<L
  <U4 1>
  <L
    <L
      <U4 4001>
      <L
        <U4 100>
      >
    >
  >
>.

/* Link Event Report Acknowledge */
S2F36
<B 0x00>.

/* Enable/Disable Event Report */
S2F37 W
<L
  <Bool 1>
  <L
    <U4 4001>
  >
>.

/* Enable/Disable Event Report Acknowledge */
S2F38
<B 0x00>.

/* Multi-block Inquire */
S2F39 W
<L
  <U4 1>
  <U4 600>
>.

/* Multi-block Grant */
S2F40
<B 0x00>.

/* Host Command Send */
S2F41 W
<L
  <A 'START'>
  <L
    <L
      <A 'PPID'>
      <A 'RCP-17'>
    >
  >
>.

/* Host Command Acknowledge */
S2F42
<L
  <B 0x00>
  <L
  >
>.

/* Alarm Report Send */
S5F1 W
<L
  <B 0x84>
  <U4 7001>
  <A 'Chamber pressure high'>
>.

/* Alarm Report Acknowledge */
S5F2
<B 0x00>.

/* Event Report Send */
S6F11 W
<L
  <U4 1>
  <U4 4001>
  <L
    <L
      <U4 100>
      <L
        <U4 300>
        <A 'IDLE'>
      >
    >
  >
>.

/* Event Report Acknowledge */
S6F12
<B 0x00>.

/* Process Program Load Inquire */
S7F1 W
<L
  <A 'RCP-17'>
  <U4 2048>
>.

/* Process Program Load Grant */
S7F2
<B 0x00>.

/* Process Program Send */
S7F3 W
<L
  <A 'RCP-17'>
  <B 0x01 0x02 0x03 0x04>
>.

/* Process Program Acknowledge */
S7F4
<B 0x00>.

/* Process Program Request */
S7F5 W
<A 'RCP-17'>.

/* Process Program Data */
S7F6
<L
  <A 'RCP-17'>
  <B 0x01 0x02 0x03 0x04>
>.

/* Current EPPD Request */
S7F19 W.

/* Current EPPD Data */
S7F20
<L
  <A 'RCP-17'>
  <A 'RCP-18'>
>.

/* Unrecognized Device ID */
S9F1
<B 0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x03>.

/* Unrecognized Stream Type */
S9F3
<B 0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x03>.

/* Unrecognized Function Type */
S9F5
<B 0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x03>.

/* Illegal Data */
S9F7
<B 0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x03>.

/* Transaction Timer Timeout */
S9F9
<B 0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x03>.

/* Data Too Long */
S9F11
<B 0x00 0x00 0x81 0x01 0x80 0x01 0x00 0x00 0x00 0x03>.

/* Conversation Timeout */
S9F13
<L
  <A 'S7F3'>
  <A 'RCP-17'>
>.

/* Terminal Request */
S10F1 W
<L
  <B 0x00>
  <A 'Operator call at chamber A'>
>.

/* Terminal Request Acknowledge */
S10F2
<B 0x00>.

/* Terminal Display, Single */
S10F3 W
<L
  <B 0x00>
  <A 'Lot L-0042 is ready'>
>.

/* Terminal Display, Single Acknowledge */
S10F4
<B 0x00>.

