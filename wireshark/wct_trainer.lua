-- SPDX-License-Identifier: Apache-2.0
-- Wireshark dissector for the wired roll trainer's frames, as `wct --pcap trainer`
-- captures them (link type LINKTYPE_USER1, 148).
--
-- Frames start with F0 and end with F7: the PC sends 6 bytes (F0, command, parameter 1,
-- parameter 2, 00, F7), the trainer answers in 6-byte short frames or 10-byte long frames
-- by generation. A trainer of the byte protocol (generations 1 to 3) sends single flags
-- bytes and the PC single load bytes: a one-byte packet is read so. Anything else is
-- marked malformed.
--
-- Display filters: wct_trainer.command == 1, wct_trainer.hr > 200, wct_trainer.resistance.

local trainer = Proto("wct_trainer", "Wired roll trainer")

local pc_commands = {
    [1] = "Load", [3] = "Serial number request", [8] = "Identification request",
    [9] = "Product version request",
}
local trainer_messages = {
    [1] = "Measures", [2] = "Roll total", [3] = "Serial number", [5] = "Unparsed message",
    [8] = "Identification answer", [9] = "Product version",
}
local generations = {
    [0x50] = "generation 4 (short frames)", [0x54] = "generation 5", [0x55] = "generation 4.5",
    [0x58] = "generation 6", [0x5A] = "generation 5.5", [0x5C] = "generation 7",
}

local f = {
    start = ProtoField.uint8("wct_trainer.start", "Start byte", base.HEX),
    command = ProtoField.uint8("wct_trainer.command", "Command", base.DEC, pc_commands),
    message = ProtoField.uint8("wct_trainer.message", "Message", base.DEC, trainer_messages),
    stop = ProtoField.uint8("wct_trainer.end", "Stop byte", base.HEX),
    param1 = ProtoField.uint8("wct_trainer.param1", "Parameter 1", base.DEC),
    param2 = ProtoField.uint8("wct_trainer.param2", "Parameter 2", base.DEC),
    pad = ProtoField.uint8("wct_trainer.pad", "Padding", base.HEX),
    resistance = ProtoField.uint8("wct_trainer.resistance", "Resistance byte", base.DEC),
    elevation = ProtoField.uint8("wct_trainer.elevation", "Elevation byte", base.DEC),
    ident = ProtoField.uint8("wct_trainer.ident_byte", "Identification byte", base.HEX),
    flags = ProtoField.uint8("wct_trainer.flags", "Flags", base.HEX),
    key_plus = ProtoField.bool("wct_trainer.flags.plus", "Key +", 8, nil, 0x01),
    key_minus = ProtoField.bool("wct_trainer.flags.minus", "Key -", 8, nil, 0x02),
    key_e = ProtoField.bool("wct_trainer.flags.e", "Key E", 8, nil, 0x04),
    key_t = ProtoField.bool("wct_trainer.flags.t", "Key T", 8, nil, 0x08),
    pedal = ProtoField.bool("wct_trainer.flags.pedal", "Pedal revolution", 8, nil, 0x10),
    beat = ProtoField.bool("wct_trainer.flags.beat", "Heart beat", 8, nil, 0x20),
    roll_flag = ProtoField.bool("wct_trainer.flags.roll", "Roll revolution (byte protocol)", 8,
        nil, 0x40),
    roll_events = ProtoField.uint8("wct_trainer.roll_events", "Roll events", base.DEC),
    unread = ProtoField.uint8("wct_trainer.unread", "Not read", base.HEX),
    roll_period = ProtoField.uint16("wct_trainer.roll_period", "Roll period (26.4 us ticks)",
        base.DEC),
    roll_rate = ProtoField.double("wct_trainer.roll_rate", "Roll events per 100 ms"),
    pedal_period = ProtoField.uint16("wct_trainer.pedal_period", "Pedal period (ms)", base.DEC),
    cadence = ProtoField.double("wct_trainer.cadence", "Cadence (rpm)"),
    heart_period = ProtoField.uint16("wct_trainer.heart_period", "Heart-beat period (ms)",
        base.DEC),
    hr = ProtoField.double("wct_trainer.hr", "Heart rate (bpm)"),
    roll_total = ProtoField.uint24("wct_trainer.roll_total", "Roll total", base.DEC),
    serial = ProtoField.uint24("wct_trainer.serial", "Serial number", base.DEC),
    rotation1 = ProtoField.int8("wct_trainer.rotation1", "Rotation byte 1", base.DEC),
    rotation2 = ProtoField.int8("wct_trainer.rotation2", "Rotation byte 2", base.DEC),
    answer = ProtoField.uint8("wct_trainer.answer", "Identification answer", base.HEX,
        generations),
    product_version = ProtoField.uint8("wct_trainer.product_version", "Product version",
        base.DEC),
    payload = ProtoField.bytes("wct_trainer.payload", "Payload"),
    byte = ProtoField.uint8("wct_trainer.byte", "Load byte (byte protocol)", base.DEC),
}
trainer.fields = f

local e = {
    not_frame = ProtoExpert.new("wct_trainer.not_frame", "Not a frame",
        expert.group.MALFORMED, expert.severity.ERROR),
    unknown = ProtoExpert.new("wct_trainer.unknown_command", "Unknown command",
        expert.group.UNDECODED, expert.severity.WARN),
    bad_answer = ProtoExpert.new("wct_trainer.bad_answer",
        "Not an identification answer the driver accepts",
        expert.group.PROTOCOL, expert.severity.WARN),
    no_direction = ProtoExpert.new("wct_trainer.no_direction",
        "Direction not captured: taken from the packet's size",
        expert.group.ASSUMPTION, expert.severity.NOTE),
}
trainer.experts = { e.not_frame, e.unknown, e.bad_answer, e.no_direction }

local function add_flags(tree, range)
    local item = tree:add(f.flags, range)
    for _, field in ipairs({ f.key_plus, f.key_minus, f.key_e, f.key_t, f.pedal, f.beat,
                             f.roll_flag }) do
        item:add(field, range)
    end
    return item
end

-- A period in ms as a rate per minute: none for 0, 0xFFFF (nothing seen) or `floor` or less.
local function per_minute(period, floor)
    if period <= floor or period >= 0xFFFF then return 0 end
    return 60000 / period
end

local function pc_frame(tvb, tree)
    local command = tvb(1, 1):uint()
    tree:add(f.command, tvb(1, 1))
    local text = pc_commands[command] or string.format("Unknown command %d", command)
    if command == 1 then
        tree:add(f.resistance, tvb(2, 1))
        tree:add(f.elevation, tvb(3, 1))
        text = string.format("%s: resistance %d, elevation %d", text, tvb(2, 1):uint(),
            tvb(3, 1):uint())
    elseif command == 8 then
        tree:add(f.ident, tvb(2, 1))
        tree:add(f.param2, tvb(3, 1))
    else
        tree:add(f.param1, tvb(2, 1))
        tree:add(f.param2, tvb(3, 1))
    end
    tree:add(f.pad, tvb(4, 1))
    if pc_commands[command] == nil then tree:add_proto_expert_info(e.unknown) end
    return text
end

local function trainer_frame(tvb, tree, long)
    local message = tvb(1, 1):uint()
    tree:add(f.message, tvb(1, 1))
    local text = trainer_messages[message] or string.format("Unknown message %d", message)
    if message == 1 and long then
        add_flags(tree, tvb(2, 1))
        local roll = tvb(3, 2):uint()
        local pedal = tvb(5, 2):uint()
        local heart = tvb(7, 2):uint()
        local rate = (roll == 0 or roll >= 0xFFFF) and 0 or 3787.878787878787879 / roll
        local cadence = per_minute(pedal, 200)
        local hr = per_minute(heart, 0)
        tree:add(f.roll_period, tvb(3, 2))
        tree:add(f.roll_rate, tvb(3, 2), rate):set_generated()
        tree:add(f.pedal_period, tvb(5, 2))
        tree:add(f.cadence, tvb(5, 2), cadence):set_generated()
        tree:add(f.heart_period, tvb(7, 2))
        tree:add(f.hr, tvb(7, 2), hr):set_generated()
        text = string.format("%s: roll period %d, cadence %.0f, heart rate %.0f", text, roll,
            cadence, hr)
    elseif message == 1 then
        add_flags(tree, tvb(2, 1))
        tree:add(f.roll_events, tvb(3, 1))
        tree:add(f.unread, tvb(4, 1))
        text = string.format("%s: flags 0x%02X, %d roll events", text, tvb(2, 1):uint(),
            tvb(3, 1):uint())
    elseif message == 2 then
        tree:add(f.roll_total, tvb(2, 3))
        text = string.format("%s: %d", text, tvb(2, 3):uint())
    elseif message == 3 then
        tree:add(f.serial, tvb(2, 3))
        if long then
            tree:add(f.rotation1, tvb(5, 1))
            tree:add(f.rotation2, tvb(6, 1))
        end
        text = string.format("%s: %d", text, tvb(2, 3):uint())
    elseif message == 8 then
        local item = tree:add(f.answer, tvb(2, 1))
        local answer = tvb(2, 1):uint()
        if generations[answer] == nil then item:add_proto_expert_info(e.bad_answer) end
        text = string.format("%s: 0x%02X, %s", text, answer, generations[answer] or "refused")
    elseif message == 9 then
        tree:add(f.product_version, tvb(2, 1))
        text = string.format("%s: %d", text, tvb(2, 1):uint())
    else
        if message ~= 5 then tree:add_proto_expert_info(e.unknown) end
        tree:add(f.payload, tvb(2, tvb:len() - 3))
    end
    return text
end

function trainer.dissector(tvb, pinfo, root)
    local size = tvb:len()
    pinfo.cols.protocol = "WCT trainer"
    local tree = root:add(trainer, tvb())
    local dir = pinfo.p2p_dir
    if dir ~= P2P_DIR_SENT and dir ~= P2P_DIR_RECV then
        tree:add_proto_expert_info(e.no_direction)
        dir = (size == 10) and P2P_DIR_RECV or P2P_DIR_SENT
    end
    local text
    if size == 1 and dir == P2P_DIR_RECV then
        add_flags(tree, tvb(0, 1))
        text = string.format("Flags byte 0x%02X", tvb(0, 1):uint())
    elseif size == 1 then
        tree:add(f.byte, tvb(0, 1))
        text = tvb(0, 1):uint() == 0x28 and "Identification request (byte protocol)" or
            string.format("Load byte %d", tvb(0, 1):uint())
    elseif (size == 6 or (size == 10 and dir == P2P_DIR_RECV)) and tvb(0, 1):uint() == 0xF0
        and tvb(size - 1, 1):uint() == 0xF7 then
        tree:add(f.start, tvb(0, 1))
        if dir == P2P_DIR_SENT then
            text = pc_frame(tvb, tree)
        else
            text = trainer_frame(tvb, tree, size == 10)
        end
        tree:add(f.stop, tvb(size - 1, 1))
    else
        tree:add_proto_expert_info(e.not_frame, string.format(
            "%d bytes, not a %s frame (F0 ... F7, %s)", size,
            dir == P2P_DIR_SENT and "PC" or "trainer",
            dir == P2P_DIR_SENT and "6 bytes" or "6 or 10 bytes"))
        if size > 0 then tree:add(f.payload, tvb()) end
        text = string.format("[Malformed] %d bytes", size)
    end
    if dir == P2P_DIR_RECV then text = "Trainer: " .. text end
    pinfo.cols.info = text
    tree:append_text(", " .. text)
    return size
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER1, trainer)
