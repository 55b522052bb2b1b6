<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AppState</name>
    <message>
        <source>Keyloom could not read its settings</source>
        <translation>Keyloom konnte seine Einstellungen nicht lesen</translation>
    </message>
    <message>
        <source>What it could not read is kept in %1; the rest start from their defaults.</source>
        <translation>Was nicht gelesen werden konnte, liegt in %1; alles Übrige beginnt mit den Standardwerten.</translation>
    </message>
    <message>
        <source>The keyboard layout has no key for such characters, and no spare key is free.</source>
        <translation>Die Tastaturbelegung hat keine Taste für solche Zeichen, und keine Ersatztaste ist frei.</translation>
    </message>
    <message>
        <source>Such a character needs more spare keys than there are.</source>
        <translation>Ein solches Zeichen braucht mehr Ersatztasten, als es gibt.</translation>
    </message>
    <message>
        <source>The desktop did not take the keymap change such characters need.</source>
        <translation>Der Desktop hat die Änderung der Tastenzuordnung, die solche Zeichen brauchen, nicht übernommen.</translation>
    </message>
    <message>
        <source>This window passes on keys only, and no key or dead key of the keyboard layout gives such characters.</source>
        <translation>Dieses Fenster gibt nur Tasten weiter, und keine Taste oder Tottaste der Tastaturbelegung ergibt solche Zeichen.</translation>
    </message>
    <message numerus="yes">
        <source>Nothing was typed. Characters that cannot be typed here: %n. %1</source>
        <translation>
            <numerusform>Nichts wurde getippt. %n Zeichen kann hier nicht getippt werden. %1</numerusform>
            <numerusform>Nichts wurde getippt. %n Zeichen können hier nicht getippt werden. %1</numerusform>
        </translation>
    </message>
    <message>
        <source>Typing stopped at a character that cannot be typed here. %1</source>
        <translation>Das Tippen hielt bei einem Zeichen an, das hier nicht getippt werden kann. %1</translation>
    </message>
    <message>
        <source>Choose &quot;Type Anyway Without Them&quot; in Keyloom&apos;s menu to type the rest.</source>
        <translation>Wählen Sie „Trotzdem ohne sie tippen“ im Menü von Keyloom, um den Rest zu tippen.</translation>
    </message>
    <message>
        <source>Keyloom typed nothing</source>
        <translation>Keyloom hat nichts getippt</translation>
    </message>
    <message>
        <source>Keyloom stopped typing</source>
        <translation>Keyloom hat das Tippen angehalten</translation>
    </message>
    <message>
        <source>The settings file could not be read; its content is kept in %1</source>
        <translation>Die Einstellungsdatei konnte nicht gelesen werden; ihr Inhalt liegt in %1</translation>
    </message>
</context>
<context>
    <name>HowToUseSection</name>
    <message>
        <source>How to Use</source>
        <translation>Bedienung</translation>
    </message>
    <message>
        <source>**Clipboard mode:** Copy text, then press shortcut.</source>
        <translation>**Zwischenablage-Modus:** Text kopieren, dann das Tastenkürzel drücken.</translation>
    </message>
    <message>
        <source>**List mode:** Add snippets above, press shortcut to type each one in order.</source>
        <translation>**Listen-Modus:** Oben Textbausteine hinzufügen, dann mit dem Tastenkürzel einen nach dem anderen tippen.</translation>
    </message>
    <message>
        <source>**Virtual machines and remote desktops:** keys go out as on a PC keyboard, accents through dead keys. The guest must use the same layout, with CapsLock and NumLock off.</source>
        <translation>**Virtuelle Maschinen und entfernte Desktops:** Die Tasten gehen wie auf einer PC-Tastatur hinaus, Akzente über Tottasten. Der Gast muss dieselbe Tastaturbelegung verwenden, mit ausgeschalteter Feststelltaste und NumLock.</translation>
    </message>
    <message>
        <source>**This desktop keeps shortcuts to itself:** bind **keyloom --toggle** (and **keyloom --previous**) to keys in its keyboard settings.</source>
        <translation>**Dieser Desktop behält Tastenkürzel für sich:** Legen Sie **keyloom --toggle** (und **keyloom --previous**) in seinen Tastatureinstellungen auf Tasten.</translation>
    </message>
    <message>
        <source>Stopping the animation</source>
        <translation>Anhalten</translation>
    </message>
    <message>
        <source>Press **Esc** to cancel immediately.</source>
        <translation>Drücken Sie **Esc**, um sofort abzubrechen.</translation>
    </message>
    <message>
        <source>**Esc** cannot stop typing on this desktop: use the shortcut or **Stop Typing** in the tray menu.</source>
        <translation>**Esc** kann das Tippen auf diesem Desktop nicht anhalten: Verwenden Sie das Tastenkürzel oder **Tippen anhalten** im Menü im Infobereich.</translation>
    </message>
    <message>
        <source>Press the **shortcut again** to stop.</source>
        <translation>Drücken Sie das **Tastenkürzel erneut**, um anzuhalten.</translation>
    </message>
    <message>
        <source>The app waits for you to release the shortcut keys before it starts typing, so you won’t get extra characters. In list mode, it advances to the next snippet after each paste and wraps back to the first.</source>
        <translation>Keyloom wartet, bis Sie die Tasten des Tastenkürzels loslassen, bevor es zu tippen beginnt, damit keine zusätzlichen Zeichen entstehen. Im Listen-Modus geht es nach jedem Einfügen zum nächsten Textbaustein und nach dem letzten wieder zum ersten.</translation>
    </message>
</context>
<context>
    <name>MenuBarContent</name>
    <message>
        <source>Grant Accessibility Permission...</source>
        <translation>Bedienungshilfen-Berechtigung erteilen...</translation>
    </message>
    <message>
        <source>Typing...</source>
        <translation>Wird getippt...</translation>
    </message>
    <message>
        <source>Stop Typing</source>
        <translation>Tippen anhalten</translation>
    </message>
    <message>
        <source>Esc cannot stop typing on this desktop.</source>
        <translation>Esc kann das Tippen auf diesem Desktop nicht anhalten.</translation>
    </message>
    <message>
        <source>Keyloom Paste</source>
        <translation>Mit Keyloom einfügen</translation>
    </message>
    <message>
        <source>Keyloom Paste  %1</source>
        <translation>Mit Keyloom einfügen  %1</translation>
    </message>
    <message>
        <source>Cannot type here: %1</source>
        <translation>Hier nicht tippbar: %1</translation>
    </message>
    <message>
        <source>Type Anyway Without Them</source>
        <translation>Trotzdem ohne sie tippen</translation>
    </message>
    <message>
        <source>Snippet %1 of %2</source>
        <translation>Textbaustein %1 von %2</translation>
    </message>
    <message>
        <source>Clear Clipboard</source>
        <translation>Zwischenablage leeren</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Einstellungen...</translation>
    </message>
    <message>
        <source>Quit Keyloom</source>
        <translation>Keyloom beenden</translation>
    </message>
    <message>
        <source>Keyloom</source>
        <translation>Keyloom</translation>
    </message>
</context>
<context>
    <name>PermissionsSection</name>
    <message>
        <source>Permissions</source>
        <translation>Berechtigungen</translation>
    </message>
    <message>
        <source>Permissions Granted!</source>
        <translation>Berechtigungen erteilt!</translation>
    </message>
    <message>
        <source>Needs Permissions</source>
        <translation>Berechtigungen nötig</translation>
    </message>
    <message>
        <source>Request Access</source>
        <translation>Zugriff anfordern</translation>
    </message>
    <message>
        <source>Keyloom uses Accessibility to register a global keyboard shortcut and simulate individual key presses into whatever app is focused - browsers, editors, terminals, and native apps.</source>
        <translation>Keyloom nutzt die Bedienungshilfen, um ein globales Tastenkürzel zu registrieren und einzelne Tastendrücke an die Anwendung mit dem Fokus zu senden – Browser, Editoren, Terminals und native Anwendungen.</translation>
    </message>
</context>
<context>
    <name>PortalRemoteDesktop</name>
    <message>
        <source>Access to the keyboard was refused.</source>
        <translation>Der Zugriff auf die Tastatur wurde verweigert.</translation>
    </message>
    <message>
        <source>The desktop did not give access to the keyboard (error %1).</source>
        <translation>Der Desktop hat keinen Zugriff auf die Tastatur gewährt (Fehler %1).</translation>
    </message>
    <message>
        <source>The desktop refused to open a session (%1).</source>
        <translation>Der Desktop hat das Öffnen einer Sitzung verweigert (%1).</translation>
    </message>
    <message>
        <source>The desktop opened no session.</source>
        <translation>Der Desktop hat keine Sitzung geöffnet.</translation>
    </message>
    <message>
        <source>The desktop did not give access to the keyboard.</source>
        <translation>Der Desktop hat keinen Zugriff auf die Tastatur gewährt.</translation>
    </message>
    <message>
        <source>The desktop ended Keyloom&apos;s access to the keyboard.</source>
        <translation>Der Desktop hat den Zugriff von Keyloom auf die Tastatur beendet.</translation>
    </message>
</context>
<context>
    <name>PortalShortcutTap</name>
    <message>
        <source>The desktop refused Keyloom&apos;s shortcuts (%1).</source>
        <translation>Der Desktop hat die Tastenkürzel von Keyloom abgelehnt (%1).</translation>
    </message>
    <message>
        <source>The desktop gave Keyloom no shortcuts (%1).</source>
        <translation>Der Desktop hat Keyloom keine Tastenkürzel gegeben (%1).</translation>
    </message>
    <message>
        <source>The desktop did not bind Keyloom&apos;s shortcuts (%1).</source>
        <translation>Der Desktop hat die Tastenkürzel von Keyloom nicht zugewiesen (%1).</translation>
    </message>
    <message>
        <source>The desktop ended Keyloom&apos;s shortcuts.</source>
        <translation>Der Desktop hat die Tastenkürzel von Keyloom beendet.</translation>
    </message>
    <message>
        <source>Change a shortcut or restart Keyloom to ask again, or bind &quot;keyloom --toggle&quot; in the desktop&apos;s keyboard settings.</source>
        <translation>Ändern Sie ein Tastenkürzel oder starten Sie Keyloom neu, um erneut zu fragen, oder legen Sie „keyloom --toggle“ in den Tastatureinstellungen des Desktops auf Tasten.</translation>
    </message>
</context>
<context>
    <name>PortalTrust</name>
    <message>
        <source>Request access again to be asked once more.</source>
        <translation>Fordern Sie den Zugriff erneut an, um noch einmal gefragt zu werden.</translation>
    </message>
    <message>
        <source>Keyloom is still asking the desktop how it may type.</source>
        <translation>Keyloom fragt den Desktop noch, wie es tippen darf.</translation>
    </message>
    <message>
        <source>This desktop lets Keyloom type into every window once you allow it to control the keyboard: request access, and allow remote interaction when the desktop asks. The desktop asks once per login.</source>
        <translation>Dieser Desktop lässt Keyloom in jedes Fenster tippen, sobald Sie ihm die Steuerung der Tastatur erlauben: Fordern Sie den Zugriff an und erlauben Sie die entfernte Interaktion, wenn der Desktop fragt. Der Desktop fragt einmal pro Anmeldung.</translation>
    </message>
    <message>
        <source>The desktop is asking whether Keyloom may control the keyboard: answer its dialog.</source>
        <translation>Der Desktop fragt, ob Keyloom die Tastatur steuern darf: Beantworten Sie seinen Dialog.</translation>
    </message>
</context>
<context>
    <name>PreferenceStore</name>
    <message>
        <source>Cannot save settings to %1; changes are kept until Keyloom quits.</source>
        <translation>Die Einstellungen können nicht in %1 gespeichert werden; Änderungen bleiben bis zum Beenden von Keyloom erhalten.</translation>
    </message>
</context>
<context>
    <name>SettingsLoader</name>
    <message>
        <source>The settings window cannot be opened: %1</source>
        <translation>Das Einstellungsfenster kann nicht geöffnet werden: %1</translation>
    </message>
</context>
<context>
    <name>SettingsWindow</name>
    <message>
        <source>Keyloom Settings</source>
        <translation>Keyloom-Einstellungen</translation>
    </message>
</context>
<context>
    <name>ShortcutsSection</name>
    <message>
        <source>Shortcuts</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>Keyloom Paste</source>
        <translation>Mit Keyloom einfügen</translation>
    </message>
    <message>
        <source>Previous Snippet</source>
        <translation>Vorheriger Textbaustein</translation>
    </message>
    <message>
        <source>Click a button, then press your desired key combination.</source>
        <translation>Klicken Sie auf eine Schaltfläche und drücken Sie dann die gewünschte Tastenkombination.</translation>
    </message>
</context>
<context>
    <name>SnippetListView</name>
    <message>
        <source>Snippets</source>
        <translation>Textbausteine</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Modus</translation>
    </message>
    <message>
        <source>Paste from Clipboard</source>
        <translation>Aus der Zwischenablage</translation>
    </message>
    <message>
        <source>Paste from List</source>
        <translation>Aus der Liste</translation>
    </message>
    <message>
        <source>No snippets yet. Add one below.</source>
        <translation>Noch keine Textbausteine. Fügen Sie unten einen hinzu.</translation>
    </message>
    <message>
        <source>Add snippet...</source>
        <translation>Textbaustein hinzufügen...</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Current: %1 of %2</source>
        <translation>Aktuell: %1 von %2</translation>
    </message>
    <message>
        <source>Reset to First</source>
        <translation>Zurück zum ersten</translation>
    </message>
    <message>
        <source>Clear All</source>
        <translation>Alle löschen</translation>
    </message>
</context>
<context>
    <name>SnippetRow</name>
    <message>
        <source>Current snippet</source>
        <translation>Aktueller Textbaustein</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
</context>
<context>
    <name>TypingSpeedSection</name>
    <message>
        <source>Typing Speed</source>
        <translation>Tippgeschwindigkeit</translation>
    </message>
    <message>
        <source>Delay between keystrokes</source>
        <translation>Pause zwischen Tastendrücken</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>From clipboard</source>
        <translation>Aus der Zwischenablage</translation>
    </message>
    <message>
        <source>Sample text</source>
        <translation>Beispieltext</translation>
    </message>
    <message>
        <source>Clear Clipboard</source>
        <translation>Zwischenablage leeren</translation>
    </message>
    <message>
        <source>PC keyboard for</source>
        <translation>PC-Tastatur für</translation>
    </message>
    <message>
        <source>VM and remote-desktop viewers</source>
        <translation>VM- und Remote-Desktop-Fenster</translation>
    </message>
    <message>
        <source>Every window</source>
        <translation>Jedes Fenster</translation>
    </message>
    <message>
        <source>No window</source>
        <translation>Kein Fenster</translation>
    </message>
    <message>
        <source>Only keys a PC keyboard has, accents through dead keys, as the guest expects. The guest should use this keyboard layout.</source>
        <translation>Nur Tasten, die eine PC-Tastatur hat, Akzente über Tottasten, wie der Gast es erwartet. Der Gast sollte diese Tastaturbelegung verwenden.</translation>
    </message>
    <message>
        <source>This desktop does not tell which window has the focus: choose Every window while you type into a viewer.</source>
        <translation>Dieser Desktop verrät nicht, welches Fenster den Fokus hat: Wählen Sie „Jedes Fenster“, solange Sie in einen Viewer tippen.</translation>
    </message>
</context>
<context>
    <name>X11AccessibilityTrust</name>
    <message>
        <source>No X display can be reached (DISPLAY=&quot;%1&quot;), so Keyloom can neither type nor watch the keyboard.</source>
        <translation>Kein X-Display ist erreichbar (DISPLAY=&quot;%1&quot;), daher kann Keyloom weder tippen noch die Tastatur beobachten.</translation>
    </message>
    <message>
        <source>The X server does not offer the XTEST extension, which Keyloom needs to type and to read the keyboard. Enable it in the X server configuration (it is on by default).</source>
        <translation>Der X-Server bietet die Erweiterung XTEST nicht an, die Keyloom zum Tippen und zum Lesen der Tastatur braucht. Aktivieren Sie sie in der Konfiguration des X-Servers (sie ist standardmäßig an).</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Usage: keyloom [--toggle | --previous | --stop | --settings]

Without an option, starts Keyloom in the system tray (or opens the settings window of the
Keyloom already running). The options control the running Keyloom, for a keyboard shortcut
set in the desktop&apos;s own settings or for a script:

  --toggle     start typing (the clipboard or the current snippet), or stop a run;
               like Keyloom&apos;s own shortcut, after every key is let go
  --previous   step back to the previous snippet (list mode)
  --stop       stop typing
  --settings   open the settings window
  --help       show this help

The exit status is 0 when the running Keyloom took the command, and 1 when none runs.
</source>
        <translation>Aufruf: keyloom [--toggle | --previous | --stop | --settings]

Ohne Option startet Keyloom im Infobereich (oder öffnet das Einstellungsfenster des
bereits laufenden Keyloom). Die Optionen steuern das laufende Keyloom, für ein Tastenkürzel
aus den Einstellungen des Desktops oder für ein Skript:

  --toggle     mit dem Tippen beginnen (Zwischenablage oder aktueller Textbaustein) oder
               es anhalten; wie Keylooms eigenes Tastenkürzel, sobald alle Tasten losgelassen sind
  --previous   zum vorherigen Textbaustein zurückgehen (Listen-Modus)
  --stop       das Tippen anhalten
  --settings   das Einstellungsfenster öffnen
  --help       diese Hilfe anzeigen

Der Rückgabewert ist 0, wenn das laufende Keyloom den Befehl angenommen hat, und 1, wenn
keines läuft.
</translation>
    </message>
    <message>
        <source>No Keyloom is running.</source>
        <translation>Es läuft kein Keyloom.</translation>
    </message>
    <message>
        <source>The running Keyloom did not answer.</source>
        <translation>Das laufende Keyloom hat nicht geantwortet.</translation>
    </message>
    <message>
        <source>unknown option %1 (see keyloom --help)</source>
        <translation>unbekannte Option %1 (siehe keyloom --help)</translation>
    </message>
</context>
</TS>
