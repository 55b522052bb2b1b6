<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AppState</name>
    <message numerus="yes">
        <source>Nothing was typed. Characters that cannot be typed here: %n. %1</source>
        <translation>
            <numerusform>Nothing was typed. %n character cannot be typed here. %1</numerusform>
            <numerusform>Nothing was typed. %n characters cannot be typed here. %1</numerusform>
        </translation>
    </message>
</context>
</TS>
