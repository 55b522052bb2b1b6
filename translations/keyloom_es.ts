<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>AppState</name>
    <message>
        <source>Keyloom could not read its settings</source>
        <translation>Keyloom no pudo leer su configuración</translation>
    </message>
    <message>
        <source>What it could not read is kept in %1; the rest start from their defaults.</source>
        <translation>Lo que no pudo leerse se guarda en %1; el resto vuelve a los valores predeterminados.</translation>
    </message>
    <message>
        <source>The keyboard layout has no key for such characters, and no spare key is free.</source>
        <translation>La distribución del teclado no tiene tecla para esos caracteres y no queda ninguna tecla de reserva libre.</translation>
    </message>
    <message>
        <source>Such a character needs more spare keys than there are.</source>
        <translation>Un carácter así necesita más teclas de reserva de las que hay.</translation>
    </message>
    <message>
        <source>The desktop did not take the keymap change such characters need.</source>
        <translation>El escritorio no aceptó el cambio del mapa de teclado que necesitan esos caracteres.</translation>
    </message>
    <message>
        <source>This window passes on keys only, and no key or dead key of the keyboard layout gives such characters.</source>
        <translation>Esta ventana solo transmite teclas, y ninguna tecla ni tecla muerta de la distribución del teclado da esos caracteres.</translation>
    </message>
    <message numerus="yes">
        <source>Nothing was typed. Characters that cannot be typed here: %n. %1</source>
        <translation>
            <numerusform>No se escribió nada. %n carácter no se puede escribir aquí. %1</numerusform>
            <numerusform>No se escribió nada. %n caracteres no se pueden escribir aquí. %1</numerusform>
        </translation>
    </message>
    <message>
        <source>Typing stopped at a character that cannot be typed here. %1</source>
        <translation>La escritura se detuvo en un carácter que no se puede escribir aquí. %1</translation>
    </message>
    <message>
        <source>Choose &quot;Type Anyway Without Them&quot; in Keyloom&apos;s menu to type the rest.</source>
        <translation>Elija «Escribir de todos modos sin ellos» en el menú de Keyloom para escribir el resto.</translation>
    </message>
    <message>
        <source>Keyloom typed nothing</source>
        <translation>Keyloom no escribió nada</translation>
    </message>
    <message>
        <source>Keyloom stopped typing</source>
        <translation>Keyloom dejó de escribir</translation>
    </message>
    <message>
        <source>The settings file could not be read; its content is kept in %1</source>
        <translation>No se pudo leer el archivo de configuración; su contenido se guarda en %1</translation>
    </message>
</context>
<context>
    <name>HowToUseSection</name>
    <message>
        <source>How to Use</source>
        <translation>Cómo se usa</translation>
    </message>
    <message>
        <source>**Clipboard mode:** Copy text, then press shortcut.</source>
        <translation>**Modo portapapeles:** copie texto y pulse el atajo de teclado.</translation>
    </message>
    <message>
        <source>**List mode:** Add snippets above, press shortcut to type each one in order.</source>
        <translation>**Modo lista:** añada fragmentos arriba y pulse el atajo de teclado para escribirlos uno a uno, en orden.</translation>
    </message>
    <message>
        <source>**Virtual machines and remote desktops:** keys go out as on a PC keyboard, accents through dead keys. The guest must use the same layout, with CapsLock and NumLock off.</source>
        <translation>**Máquinas virtuales y escritorios remotos:** las teclas salen como en un teclado de PC, los acentos mediante teclas muertas. El invitado debe usar la misma distribución, con Bloq Mayús y Bloq Num desactivados.</translation>
    </message>
    <message>
        <source>**This desktop keeps shortcuts to itself:** bind **keyloom --toggle** (and **keyloom --previous**) to keys in its keyboard settings.</source>
        <translation>**Este escritorio se reserva los atajos de teclado:** asigne **keyloom --toggle** (y **keyloom --previous**) a unas teclas en su configuración del teclado.</translation>
    </message>
    <message>
        <source>Stopping the animation</source>
        <translation>Detener</translation>
    </message>
    <message>
        <source>Press **Esc** to cancel immediately.</source>
        <translation>Pulse **Esc** para cancelar de inmediato.</translation>
    </message>
    <message>
        <source>**Esc** cannot stop typing on this desktop: use the shortcut or **Stop Typing** in the tray menu.</source>
        <translation>**Esc** no puede detener la escritura en este escritorio: use el atajo de teclado o **Detener la escritura** en el menú del área de notificación.</translation>
    </message>
    <message>
        <source>Press the **shortcut again** to stop.</source>
        <translation>Pulse **de nuevo el atajo de teclado** para detener.</translation>
    </message>
    <message>
        <source>The app waits for you to release the shortcut keys before it starts typing, so you won’t get extra characters. In list mode, it advances to the next snippet after each paste and wraps back to the first.</source>
        <translation>La aplicación espera a que suelte las teclas del atajo de teclado antes de empezar a escribir, para que no aparezcan caracteres de más. En modo lista, pasa al siguiente fragmento tras cada pegado y vuelve al primero después del último.</translation>
    </message>
</context>
<context>
    <name>MenuBarContent</name>
    <message>
        <source>Grant Accessibility Permission...</source>
        <translation>Conceder permiso de accesibilidad...</translation>
    </message>
    <message>
        <source>Typing...</source>
        <translation>Escribiendo...</translation>
    </message>
    <message>
        <source>Stop Typing</source>
        <translation>Detener la escritura</translation>
    </message>
    <message>
        <source>Esc cannot stop typing on this desktop.</source>
        <translation>Esc no puede detener la escritura en este escritorio.</translation>
    </message>
    <message>
        <source>Keyloom Paste</source>
        <translation>Pegar con Keyloom</translation>
    </message>
    <message>
        <source>Keyloom Paste  %1</source>
        <translation>Pegar con Keyloom  %1</translation>
    </message>
    <message>
        <source>Cannot type here: %1</source>
        <translation>No se puede escribir aquí: %1</translation>
    </message>
    <message>
        <source>Type Anyway Without Them</source>
        <translation>Escribir de todos modos sin ellos</translation>
    </message>
    <message>
        <source>Snippet %1 of %2</source>
        <translation>Fragmento %1 de %2</translation>
    </message>
    <message>
        <source>Clear Clipboard</source>
        <translation>Vaciar el portapapeles</translation>
    </message>
    <message>
        <source>Settings...</source>
        <translation>Configuración...</translation>
    </message>
    <message>
        <source>Quit Keyloom</source>
        <translation>Salir de Keyloom</translation>
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
        <translation>Permisos</translation>
    </message>
    <message>
        <source>Permissions Granted!</source>
        <translation>¡Permisos concedidos!</translation>
    </message>
    <message>
        <source>Needs Permissions</source>
        <translation>Necesita permisos</translation>
    </message>
    <message>
        <source>Request Access</source>
        <translation>Solicitar acceso</translation>
    </message>
    <message>
        <source>Keyloom uses Accessibility to register a global keyboard shortcut and simulate individual key presses into whatever app is focused - browsers, editors, terminals, and native apps.</source>
        <translation>Keyloom usa la accesibilidad para registrar un atajo de teclado global y simular pulsaciones de teclas en la aplicación que tenga el foco: navegadores, editores, terminales y aplicaciones nativas.</translation>
    </message>
</context>
<context>
    <name>PortalRemoteDesktop</name>
    <message>
        <source>Access to the keyboard was refused.</source>
        <translation>Se denegó el acceso al teclado.</translation>
    </message>
    <message>
        <source>The desktop did not give access to the keyboard (error %1).</source>
        <translation>El escritorio no dio acceso al teclado (error %1).</translation>
    </message>
    <message>
        <source>The desktop refused to open a session (%1).</source>
        <translation>El escritorio se negó a abrir una sesión (%1).</translation>
    </message>
    <message>
        <source>The desktop opened no session.</source>
        <translation>El escritorio no abrió ninguna sesión.</translation>
    </message>
    <message>
        <source>The desktop did not give access to the keyboard.</source>
        <translation>El escritorio no dio acceso al teclado.</translation>
    </message>
    <message>
        <source>The desktop ended Keyloom&apos;s access to the keyboard.</source>
        <translation>El escritorio puso fin al acceso de Keyloom al teclado.</translation>
    </message>
</context>
<context>
    <name>PortalShortcutTap</name>
    <message>
        <source>The desktop refused Keyloom&apos;s shortcuts (%1).</source>
        <translation>El escritorio rechazó los atajos de teclado de Keyloom (%1).</translation>
    </message>
    <message>
        <source>The desktop gave Keyloom no shortcuts (%1).</source>
        <translation>El escritorio no dio ningún atajo de teclado a Keyloom (%1).</translation>
    </message>
    <message>
        <source>The desktop did not bind Keyloom&apos;s shortcuts (%1).</source>
        <translation>El escritorio no asignó los atajos de teclado de Keyloom (%1).</translation>
    </message>
    <message>
        <source>The desktop ended Keyloom&apos;s shortcuts.</source>
        <translation>El escritorio puso fin a los atajos de teclado de Keyloom.</translation>
    </message>
    <message>
        <source>Change a shortcut or restart Keyloom to ask again, or bind &quot;keyloom --toggle&quot; in the desktop&apos;s keyboard settings.</source>
        <translation>Cambie un atajo de teclado o reinicie Keyloom para volver a pedirlo, o asigne «keyloom --toggle» en la configuración del teclado del escritorio.</translation>
    </message>
</context>
<context>
    <name>PortalTrust</name>
    <message>
        <source>Request access again to be asked once more.</source>
        <translation>Vuelva a solicitar acceso para que se le pregunte de nuevo.</translation>
    </message>
    <message>
        <source>Keyloom is still asking the desktop how it may type.</source>
        <translation>Keyloom aún está preguntando al escritorio cómo puede escribir.</translation>
    </message>
    <message>
        <source>This desktop lets Keyloom type into every window once you allow it to control the keyboard: request access, and allow remote interaction when the desktop asks. The desktop asks once per login.</source>
        <translation>Este escritorio deja que Keyloom escriba en todas las ventanas una vez que le permita controlar el teclado: solicite acceso y permita la interacción remota cuando el escritorio lo pregunte. El escritorio lo pregunta una vez por sesión.</translation>
    </message>
    <message>
        <source>The desktop is asking whether Keyloom may control the keyboard: answer its dialog.</source>
        <translation>El escritorio pregunta si Keyloom puede controlar el teclado: responda a su diálogo.</translation>
    </message>
</context>
<context>
    <name>PreferenceStore</name>
    <message>
        <source>Cannot save settings to %1; changes are kept until Keyloom quits.</source>
        <translation>No se puede guardar la configuración en %1; los cambios se conservan hasta que Keyloom se cierre.</translation>
    </message>
</context>
<context>
    <name>SettingsLoader</name>
    <message>
        <source>The settings window cannot be opened: %1</source>
        <translation>No se puede abrir la ventana de configuración: %1</translation>
    </message>
</context>
<context>
    <name>SettingsWindow</name>
    <message>
        <source>Keyloom Settings</source>
        <translation>Configuración de Keyloom</translation>
    </message>
</context>
<context>
    <name>ShortcutsSection</name>
    <message>
        <source>Shortcuts</source>
        <translation>Atajos de teclado</translation>
    </message>
    <message>
        <source>Keyloom Paste</source>
        <translation>Pegar con Keyloom</translation>
    </message>
    <message>
        <source>Previous Snippet</source>
        <translation>Fragmento anterior</translation>
    </message>
    <message>
        <source>Click a button, then press your desired key combination.</source>
        <translation>Haga clic en un botón y pulse la combinación de teclas que desee.</translation>
    </message>
</context>
<context>
    <name>SnippetListView</name>
    <message>
        <source>Snippets</source>
        <translation>Fragmentos</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Modo</translation>
    </message>
    <message>
        <source>Paste from Clipboard</source>
        <translation>Del portapapeles</translation>
    </message>
    <message>
        <source>Paste from List</source>
        <translation>De la lista</translation>
    </message>
    <message>
        <source>No snippets yet. Add one below.</source>
        <translation>Aún no hay fragmentos. Añada uno abajo.</translation>
    </message>
    <message>
        <source>Add snippet...</source>
        <translation>Añadir fragmento...</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Añadir</translation>
    </message>
    <message>
        <source>Current: %1 of %2</source>
        <translation>Actual: %1 de %2</translation>
    </message>
    <message>
        <source>Reset to First</source>
        <translation>Volver al primero</translation>
    </message>
    <message>
        <source>Clear All</source>
        <translation>Borrar todo</translation>
    </message>
</context>
<context>
    <name>SnippetRow</name>
    <message>
        <source>Current snippet</source>
        <translation>Fragmento actual</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Eliminar</translation>
    </message>
</context>
<context>
    <name>TypingSpeedSection</name>
    <message>
        <source>Typing Speed</source>
        <translation>Velocidad de escritura</translation>
    </message>
    <message>
        <source>Delay between keystrokes</source>
        <translation>Pausa entre pulsaciones</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 ms</translation>
    </message>
    <message>
        <source>From clipboard</source>
        <translation>Desde el portapapeles</translation>
    </message>
    <message>
        <source>Sample text</source>
        <translation>Texto de ejemplo</translation>
    </message>
    <message>
        <source>Clear Clipboard</source>
        <translation>Vaciar el portapapeles</translation>
    </message>
    <message>
        <source>PC keyboard for</source>
        <translation>Teclado de PC para</translation>
    </message>
    <message>
        <source>VM and remote-desktop viewers</source>
        <translation>Visores de VM y escritorio remoto</translation>
    </message>
    <message>
        <source>Every window</source>
        <translation>Todas las ventanas</translation>
    </message>
    <message>
        <source>No window</source>
        <translation>Ninguna ventana</translation>
    </message>
    <message>
        <source>Only keys a PC keyboard has, accents through dead keys, as the guest expects. The guest should use this keyboard layout.</source>
        <translation>Solo las teclas de un teclado de PC, los acentos mediante teclas muertas, como espera el invitado. El invitado debe usar esta distribución de teclado.</translation>
    </message>
    <message>
        <source>This desktop does not tell which window has the focus: choose Every window while you type into a viewer.</source>
        <translation>Este escritorio no indica qué ventana tiene el foco: elija «Todas las ventanas» mientras escribe en un visor.</translation>
    </message>
</context>
<context>
    <name>X11AccessibilityTrust</name>
    <message>
        <source>No X display can be reached (DISPLAY=&quot;%1&quot;), so Keyloom can neither type nor watch the keyboard.</source>
        <translation>No se puede alcanzar ninguna pantalla X (DISPLAY=&quot;%1&quot;), así que Keyloom no puede escribir ni vigilar el teclado.</translation>
    </message>
    <message>
        <source>The X server does not offer the XTEST extension, which Keyloom needs to type and to read the keyboard. Enable it in the X server configuration (it is on by default).</source>
        <translation>El servidor X no ofrece la extensión XTEST, que Keyloom necesita para escribir y leer el teclado. Actívela en la configuración del servidor X (viene activada por defecto).</translation>
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
        <translation>Uso: keyloom [--toggle | --previous | --stop | --settings]

Sin opciones, inicia Keyloom en el área de notificación (o abre la ventana de configuración
del Keyloom que ya está en marcha). Las opciones controlan el Keyloom en marcha, para un atajo
de teclado definido en la configuración del escritorio o para un script:

  --toggle     empezar a escribir (el portapapeles o el fragmento actual) o detenerse;
               como el atajo de teclado de Keyloom, cuando se han soltado todas las teclas
  --previous   volver al fragmento anterior (modo lista)
  --stop       dejar de escribir
  --settings   abrir la ventana de configuración
  --help       mostrar esta ayuda

El código de salida es 0 cuando el Keyloom en marcha aceptó la orden, y 1 cuando no hay
ninguno en marcha.
</translation>
    </message>
    <message>
        <source>No Keyloom is running.</source>
        <translation>No hay ningún Keyloom en marcha.</translation>
    </message>
    <message>
        <source>The running Keyloom did not answer.</source>
        <translation>El Keyloom en marcha no respondió.</translation>
    </message>
    <message>
        <source>unknown option %1 (see keyloom --help)</source>
        <translation>opción desconocida %1 (véase keyloom --help)</translation>
    </message>
</context>
</TS>
