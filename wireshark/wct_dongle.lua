-- SPDX-License-Identifier: Apache-2.0
-- Wireshark dissector for the wireless console dongle's frames, as `wct --pcap` and the
-- window's Link menu capture them (link type LINKTYPE_USER0, 147).
--
-- Frame: 3E, code, console ID, N, N payload bytes, spare byte, 21. The packet's direction
-- (pcapng flags) tells a command of the PC from a reply of the dongle. A packet that is not
-- a whole frame is marked malformed and shown as far as it goes.
--
-- Display filters: wct.console == 5, wct.hr > 200, wct.command == 0x0f, wct.rpm, wct.level.

local wct = Proto("wct", "Wireless console dongle")

local commands = {
    [0x02] = "Open registration", [0x03] = "Close registration",
    [0x04] = "Ask number of consoles", [0x06] = "Remove console", [0x07] = "Select console",
    [0x08] = "Deselect console", [0x09] = "Serial number request", [0x0A] = "Version request",
    [0x0B] = "Total rolls request", [0x0C] = "Total rolls reset", [0x0E] = "Write value",
    [0x0F] = "Read value", [0x10] = "Resistances", [0x13] = "Start/stop measure",
    [0x14] = "Start/stop roll", [0x15] = "Firmware version request", [0x16] = "Trigger clock",
    [0x17] = "Test signals", [0x18] = "Test keys", [0x19] = "Test cardio",
}
local replies = {
    [0x01] = "Measures", [0x02] = "Registration opened", [0x04] = "Number of consoles",
    [0x05] = "Console added", [0x06] = "Console removed", [0x09] = "Serial number",
    [0x0A] = "Version", [0x0B] = "Total rolls", [0x0F] = "Data read",
    [0x15] = "Firmware version", [0xFE] = "NACK", [0xFF] = "ACK",
}
local on_off = { [0] = "stop", [1] = "start" }

local f = {
    start = ProtoField.uint8("wct.start", "Start byte", base.HEX),
    command = ProtoField.uint8("wct.command", "Command", base.HEX, commands),
    reply = ProtoField.uint8("wct.reply", "Reply", base.HEX, replies),
    console = ProtoField.uint8("wct.console", "Console ID", base.DEC),
    length = ProtoField.uint8("wct.length", "Payload length", base.DEC),
    payload = ProtoField.bytes("wct.payload", "Payload"),
    spare = ProtoField.uint8("wct.spare", "Spare byte", base.HEX),
    stop = ProtoField.uint8("wct.end", "Stop byte", base.HEX),
    rpm = ProtoField.uint16("wct.rpm", "Roll speed (rpm)", base.DEC),
    speed = ProtoField.double("wct.speed", "Speed (km/h)"),
    hr = ProtoField.uint8("wct.hr", "Heart rate", base.DEC),
    cadence = ProtoField.uint8("wct.cadence", "Cadence", base.DEC),
    keys = ProtoField.uint8("wct.keys", "Keys", base.HEX),
    extra = ProtoField.bytes("wct.extra", "Further payload"),
    consoles = ProtoField.uint8("wct.consoles", "Number of consoles", base.DEC),
    joined = ProtoField.uint8("wct.joined", "Console joined", base.DEC),
    left = ProtoField.uint8("wct.left", "Console left", base.DEC),
    serial = ProtoField.uint24("wct.serial", "Serial number", base.DEC),
    version = ProtoField.uint8("wct.version", "Version", base.HEX),
    fw_major = ProtoField.uint8("wct.firmware_major", "Firmware major", base.HEX),
    fw_minor = ProtoField.uint8("wct.firmware_minor", "Firmware minor", base.HEX),
    rolls_count = ProtoField.uint16("wct.rolls_count", "Total rolls / 32", base.DEC),
    total_rolls = ProtoField.uint32("wct.total_rolls", "Total rolls", base.DEC),
    address = ProtoField.uint16("wct.address", "Memory address", base.HEX),
    byte_count = ProtoField.uint8("wct.byte_count", "Byte count", base.DEC),
    data = ProtoField.bytes("wct.data", "Data"),
    lead = ProtoField.uint8("wct.lead", "Lead byte", base.HEX),
    level = ProtoField.uint8("wct.level", "Resistance level", base.DEC),
    level_console = ProtoField.uint8("wct.level_console", "Console", base.DEC),
    measure = ProtoField.uint8("wct.measure", "Measure", base.DEC, on_off),
    roll = ProtoField.uint8("wct.roll", "Roll", base.DEC, on_off),
    acked = ProtoField.uint8("wct.acked", "Command acknowledged", base.HEX, commands),
    refused = ProtoField.uint8("wct.refused", "Command refused", base.HEX, commands),
}
wct.fields = f

local e = {
    not_frame = ProtoExpert.new("wct.not_frame", "Not a frame",
        expert.group.MALFORMED, expert.severity.ERROR),
    bad_length = ProtoExpert.new("wct.bad_length", "Length byte does not match the frame",
        expert.group.MALFORMED, expert.severity.ERROR),
    bad_stop = ProtoExpert.new("wct.bad_stop", "Stop byte is not 0x21",
        expert.group.MALFORMED, expert.severity.ERROR),
    short_payload = ProtoExpert.new("wct.short_payload", "Payload too short",
        expert.group.MALFORMED, expert.severity.ERROR),
    cut = ProtoExpert.new("wct.cut_by_framer",
        "A 0x21 inside the frame: the bench cuts the frame there and drops it",
        expert.group.PROTOCOL, expert.severity.WARN),
    unknown = ProtoExpert.new("wct.unknown_code", "Unknown code",
        expert.group.UNDECODED, expert.severity.WARN),
    no_direction = ProtoExpert.new("wct.no_direction",
        "Direction not captured: guessed from the code",
        expert.group.ASSUMPTION, expert.severity.NOTE),
}
wct.experts = { e.not_frame, e.bad_length, e.bad_stop, e.short_payload, e.cut, e.unknown,
                e.no_direction }

-- The bench's speed: a 45 mm roll, 2700 = 60 x 45, pi taken as 3.14.
local function roll_speed_kmh(rpm)
    return rpm * 2700 * 3.14 / 1000000
end

local function name_of(table, code)
    return table[code] or string.format("unknown 0x%02X", code)
end

-- Each payload decoder gets the payload's range (nil when empty), its length, the tree,
-- the console ID and the packet info, and returns the Info text after the code's name.
-- `need` is the fewest payload bytes it reads.
local function console_text(id)
    return string.format("console %d", id)
end

local command_payload = {
    [0x06] = { need = 0, decode = function(_, _, _, id)
        return id == 0xFF and "all consoles" or console_text(id)
    end },
    [0x0E] = { need = 3, decode = function(p, n, tree, id)
        tree:add(f.address, p(0, 2))
        tree:add(f.byte_count, p(2, 1))
        local count = p(2, 1):uint()
        local have = math.min(count, n - 3)
        if have > 0 then tree:add(f.data, p(3, have)) end
        return string.format("%s, %d bytes at 0x%04X", console_text(id), count, p(0, 2):uint())
    end },
    [0x0F] = { need = 3, decode = function(p, _, tree, id)
        tree:add(f.address, p(0, 2))
        tree:add(f.byte_count, p(2, 1))
        return string.format("%s, %d bytes at 0x%04X", console_text(id), p(2, 1):uint(),
            p(0, 2):uint())
    end },
    [0x10] = { need = 1, decode = function(p, n, tree)
        tree:add(f.lead, p(0, 1))
        local levels = {}
        for i = 1, n - 1 do
            local sub = tree:add(f.level, p(i, 1))
            sub:add(f.level_console, p(i, 1), i):set_generated()
            sub:append_text(string.format(" (console %d)", i))
            levels[#levels + 1] = string.format("%d:%d", i, p(i, 1):uint())
        end
        return "levels " .. table.concat(levels, " ")
    end },
    [0x13] = { need = 1, decode = function(p, _, tree)
        tree:add(f.measure, p(0, 1))
        return name_of(on_off, p(0, 1):uint())
    end },
    [0x14] = { need = 1, decode = function(p, _, tree, id)
        tree:add(f.roll, p(0, 1))
        return string.format("%s, %s", console_text(id), name_of(on_off, p(0, 1):uint()))
    end },
}

local reply_payload = {
    [0x01] = { need = 5, decode = function(p, n, tree, id)
        local rpm = p(0, 2):uint()
        local kmh = roll_speed_kmh(rpm)
        tree:add(f.rpm, p(0, 2))
        tree:add(f.speed, p(0, 2), kmh):set_generated()
        tree:add(f.hr, p(2, 1))
        tree:add(f.cadence, p(3, 1))
        tree:add(f.keys, p(4, 1))
        if n > 5 then tree:add(f.extra, p(5, n - 5)) end
        return string.format("%s: %d rpm, %.2f km/h, heart rate %d, cadence %d, keys 0x%02X",
            console_text(id), rpm, kmh, p(2, 1):uint(), p(3, 1):uint(), p(4, 1):uint())
    end },
    [0x02] = { need = 1, decode = function(p, _, tree)
        tree:add(f.consoles, p(0, 1))
        return string.format("%d consoles", p(0, 1):uint())
    end },
    [0x05] = { need = 1, decode = function(p, _, tree)
        tree:add(f.joined, p(0, 1))
        return console_text(p(0, 1):uint())
    end },
    [0x06] = { need = 1, decode = function(p, _, tree)
        tree:add(f.left, p(0, 1))
        return console_text(p(0, 1):uint())
    end },
    [0x09] = { need = 3, decode = function(p, _, tree, id)
        tree:add(f.serial, p(0, 3))
        return string.format("%s: %d", console_text(id), p(0, 3):uint())
    end },
    [0x0A] = { need = 1, decode = function(p, _, tree, id)
        tree:add(f.version, p(0, 1))
        return string.format("%s: 0x%02X", id == 0 and "dongle" or console_text(id),
            p(0, 1):uint())
    end },
    [0x0B] = { need = 2, decode = function(p, _, tree, id)
        local count = p(0, 2):uint()
        tree:add(f.rolls_count, p(0, 2))
        tree:add(f.total_rolls, p(0, 2), count * 32):set_generated()
        return string.format("%s: %d", console_text(id), count * 32)
    end },
    [0x0F] = { need = 1, decode = function(p, n, tree, id, pinfo, top)
        local count = p(0, 1):uint()
        tree:add(f.byte_count, p(0, 1))
        if count > n - 1 then
            top:add_proto_expert_info(e.short_payload,
                string.format("Announces %d data bytes, carries %d", count, n - 1))
        end
        local have = math.min(count, n - 1)
        if have > 0 then tree:add(f.data, p(1, have)) end
        if count == 0 then return console_text(id) .. ": nothing read" end
        return string.format("%s: %s", console_text(id), have > 0 and p(1, have):bytes():tohex()
            or "")
    end },
    [0x15] = { need = 2, decode = function(p, _, tree, id)
        tree:add(f.fw_major, p(0, 1))
        tree:add(f.fw_minor, p(1, 1))
        return string.format("%s: %02X%02X", console_text(id), p(0, 1):uint(), p(1, 1):uint())
    end },
    [0xFE] = { need = 1, decode = function(p, _, tree, id)
        tree:add(f.refused, p(0, 1))
        return string.format("%s refused %s", console_text(id), name_of(commands, p(0, 1):uint()))
    end },
    [0xFF] = { need = 1, decode = function(p, _, tree, id)
        tree:add(f.acked, p(0, 1))
        return string.format("%s acknowledged %s", console_text(id),
            name_of(commands, p(0, 1):uint()))
    end },
}
reply_payload[0x04] = reply_payload[0x02]

local reply_only = { [0x01] = true, [0x05] = true, [0xFE] = true, [0xFF] = true }

function wct.dissector(tvb, pinfo, root)
    local size = tvb:len()
    pinfo.cols.protocol = "WCT"
    local top = root:add(wct, tvb())
    if size < 1 then
        top:add_proto_expert_info(e.not_frame, "Empty packet")
        pinfo.cols.info = "Empty packet"
        return size
    end
    local start = tvb(0, 1):uint()
    if start ~= 0x3E or size < 4 then
        top:add(f.start, tvb(0, 1))
        top:add_proto_expert_info(e.not_frame, start ~= 0x3E and
            string.format("Starts with 0x%02X, not the start byte 0x3E", start) or
            string.format("%d bytes: shorter than any frame", size))
        pinfo.cols.info = string.format("Not a frame: %d bytes", size)
        return size
    end
    local code = tvb(1, 1):uint()
    local id = tvb(2, 1):uint()
    local n = tvb(3, 1):uint()

    local outbound = pinfo.p2p_dir == P2P_DIR_SENT
    if pinfo.p2p_dir ~= P2P_DIR_SENT and pinfo.p2p_dir ~= P2P_DIR_RECV then
        outbound = not reply_only[code]
        top:add_proto_expert_info(e.no_direction)
    end
    local names = outbound and commands or replies
    local decoders = outbound and command_payload or reply_payload

    top:add(f.start, tvb(0, 1))
    local code_item = top:add(outbound and f.command or f.reply, tvb(1, 1))
    top:add(f.console, tvb(2, 1))
    local length_item = top:add(f.length, tvb(3, 1))

    -- What the packet holds past the header, as the length byte wants it or as it came.
    local whole = size == n + 6
    local payload_size = math.max(0, math.min(n, size - 4))
    local problem
    if not whole then
        problem = true
        length_item:add_proto_expert_info(e.bad_length, string.format(
            "Length byte %d wants a frame of %d bytes; the packet has %d", n, n + 6, size))
    end
    local payload
    if payload_size > 0 then
        payload = tvb(4, payload_size)
        top:add(f.payload, payload)
    end
    if whole then
        top:add(f.spare, tvb(size - 2, 1))
    end
    local last = tvb(size - 1, 1):uint()
    local stop_item = top:add(f.stop, tvb(size - 1, 1))
    if last ~= 0x21 then
        problem = true
        stop_item:add_proto_expert_info(e.bad_stop)
    end
    if whole and last == 0x21 and size > 2 then
        for i = 1, size - 2 do
            if tvb(i, 1):uint() == 0x21 then
                top:add_proto_expert_info(e.cut, string.format(
                    "Byte %d is 0x21: the bench's framer ends the frame there and drops it", i))
                break
            end
        end
    end

    local info = (outbound and "" or "Reply: ") .. name_of(names, code)
    local decoder = decoders[code]
    if names[code] == nil then
        code_item:add_proto_expert_info(e.unknown)
    elseif decoder == nil then
        if code ~= 0x02 and code ~= 0x03 and code ~= 0x04 then
            info = info .. ", " .. console_text(id)
        end
    elseif payload_size < decoder.need then
        top:add_proto_expert_info(e.short_payload, string.format(
            "%s needs %d payload bytes, has %d", name_of(names, code), decoder.need,
            payload_size))
        problem = true
    else
        local details = payload and top:add(payload, "Payload: " .. name_of(names, code)) or top
        info = info .. ", " .. decoder.decode(payload, payload_size, details, id, pinfo, top)
    end
    if problem then info = "[Malformed] " .. info end
    pinfo.cols.info = info
    top:append_text(", " .. info)
    return size
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, wct)
