<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="es">
<context>
    <name>fornax::app::FolderTree</name>
    <message>
        <source> &lt; DIR &gt; </source>
        <extracomment>A folder&apos;s cell in the size column, as wide as the nine characters of a size.</extracomment>
        <translation> &lt; DIR &gt; </translation>
    </message>
    <message>
        <source>Double click on a file name to extract</source>
        <translation>Double click on a file name to extract</translation>
    </message>
</context>
<context>
    <name>fornax::app::ProgressText</name>
    <message>
        <source> · quedan </source>
        <translation> · time left </translation>
    </message>
</context>
<context>
    <name>fornax::app::TCompilationList</name>
    <message>
        <source>R</source>
        <translation>R</translation>
    </message>
    <message>
        <source>Nombre</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Tamaño</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>R: una carpeta marcada lleva tambien sus subcarpetas</source>
        <translation>R: a ticked folder takes its subfolders too</translation>
    </message>
</context>
<context>
    <name>fornax::app::TDiscSpaceBar</name>
    <message>
        <source>Nuevo: %1 · sin disco que medir</source>
        <translation>New: %1 · no disc to measure</translation>
    </message>
    <message>
        <source>Libre: %1</source>
        <translation>Free: %1</translation>
    </message>
    <message>
        <source>No cabe: faltan %1</source>
        <translation>Does not fit: %1 short</translation>
    </message>
    <message>
        <source>Usado: %1 · Nuevo: %2 · %3</source>
        <translation>Used: %1 · New: %2 · %3</translation>
    </message>
</context>
<context>
    <name>fornax::app::TForm2</name>
    <message>
        <source>Read CDR</source>
        <translation>Read CDR</translation>
    </message>
    <message>
        <source>Read CDRW</source>
        <translation>Read CDRW</translation>
    </message>
    <message>
        <source>Read DVD-R</source>
        <translation>Read DVD-R</translation>
    </message>
    <message>
        <source>Read DVD-RW</source>
        <translation>Read DVD-RW</translation>
    </message>
    <message>
        <source>Read DVD-RAM</source>
        <translation>Read DVD-RAM</translation>
    </message>
    <message>
        <source>Read DVD+R</source>
        <translation>Read DVD+R</translation>
    </message>
    <message>
        <source>Read DVD+RW</source>
        <translation>Read DVD+RW</translation>
    </message>
    <message>
        <source>Read DVD</source>
        <translation>Read DVD</translation>
    </message>
    <message>
        <source>Write CDR</source>
        <translation>Write CDR</translation>
    </message>
    <message>
        <source>Write CDRW</source>
        <translation>Write CDRW</translation>
    </message>
    <message>
        <source>Write DVD-R</source>
        <translation>Write DVD-R</translation>
    </message>
    <message>
        <source>Write DVD-RW</source>
        <translation>Write DVD-RW</translation>
    </message>
    <message>
        <source>Write DVD-RAM</source>
        <translation>Write DVD-RAM</translation>
    </message>
    <message>
        <source>Write DVD+R</source>
        <translation>Write DVD+R</translation>
    </message>
    <message>
        <source>Write DVD+RW</source>
        <translation>Write DVD+RW</translation>
    </message>
    <message>
        <source>Write Test</source>
        <translation>Write Test</translation>
    </message>
    <message>
        <source>Device Capabilities</source>
        <translation>Device Capabilities</translation>
    </message>
    <message>
        <source>Proteccion Underrun</source>
        <translation>Underrun Protection</translation>
    </message>
    <message>
        <source>Max Velocidad Escritura : </source>
        <translation>Max Write Speed: </translation>
    </message>
    <message>
        <source>Max Velocidad Lectura  : </source>
        <translation>Max Read Speed: </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>fornax::app::TSettingsFile</name>
    <message>
        <source>cannot make the folder %1: %2</source>
        <translation>cannot make the folder %1: %2</translation>
    </message>
    <message>
        <source>cannot write %1: %2</source>
        <translation>cannot write %1: %2</translation>
    </message>
    <message>
        <source>cannot replace %1: %2</source>
        <translation>cannot replace %1: %2</translation>
    </message>
</context>
<context>
    <name>fornax::app::TShellFolderTree</name>
    <message>
        <source>La ruta &quot;%1&quot; no existe o no es una carpeta.</source>
        <translation>The path &quot;%1&quot; does not exist or is not a folder.</translation>
    </message>
    <message>
        <source>La ruta &quot;%1&quot; no se puede mostrar.</source>
        <translation>The path &quot;%1&quot; cannot be shown.</translation>
    </message>
</context>
<context>
    <name>fornax::app::TfrmAcercaDe</name>
    <message>
        <source>Acerca de</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Version 1.4.2 Build 215</source>
        <translation>Version 1.4.2 Build 215</translation>
    </message>
    <message>
        <source>Copyright © 2026 el equipo de Fornax. Software libre.</source>
        <translation>Copyright © 2026 the Fornax team. Free software.</translation>
    </message>
    <message>
        <source>El equipo de Fornax</source>
        <translation>The Fornax team</translation>
    </message>
    <message>
        <source>Hecho para escritorios Linux</source>
        <translation>Made for Linux desktops</translation>
    </message>
    <message>
        <source>Este programa se entrega tal cual, sin garantia de ningun tipo. Antes de grabar, compruebe que tiene derecho a copiar lo que graba, y conserve copias de sus datos: un disco puede danarse o perderse.</source>
        <translation>This program is provided as is, without warranty of any kind. Before burning, make sure you have the right to copy what you burn, and keep copies of your data: a disc can be damaged or lost.</translation>
    </message>
    <message>
        <source>&amp;Aceptar</source>
        <translation>&amp;OK</translation>
    </message>
</context>
<context>
    <name>fornax::app::TfrmDiscLayout</name>
    <message>
        <source>Remover archivos o directorios</source>
        <translation>Remove files or folders</translation>
    </message>
    <message>
        <source>Nombre archivo</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>Tamaño archivo</source>
        <translation>File size</translation>
    </message>
    <message>
        <source>    Fecha &amp; Hora </source>
        <translation>    Date &amp; Time </translation>
    </message>
    <message>
        <source>Cerrar</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Eliminar</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Refrescar</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Tu no puedes eliminar directorio, </source>
        <translation>You cannot delete a folder here: </translation>
    </message>
    <message>
        <source> es un directorio, use vista arbol para eliminar el directorio</source>
        <translation> is a folder; use the tree view to delete it</translation>
    </message>
</context>
<context>
    <name>fornax::app::TfrmMain</name>
    <message>
        <source> Unidad :</source>
        <translation> Drive:</translation>
    </message>
    <message>
        <source>Drive capabilities</source>
        <translation>Drive capabilities</translation>
    </message>
    <message>
        <source>Velocidad</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>Informacion Disco</source>
        <translation>Disc Info</translation>
    </message>
    <message>
        <source>Informacion de Disco &amp; Sesion (Extraer archivo de alguna sesion)</source>
        <translation>Disc &amp; Session Information (extract files from a session)</translation>
    </message>
    <message>
        <source>Avanzado</source>
        <translation>Advanced</translation>
    </message>
    <message>
        <source>Configuracion avanzada</source>
        <translation>Advanced settings</translation>
    </message>
    <message>
        <source>Quemar</source>
        <translation>Burn</translation>
    </message>
    <message>
        <source>Inicar quemado</source>
        <translation>Start burning</translation>
    </message>
    <message>
        <source>Borrado rapido</source>
        <translation>Quick Erase</translation>
    </message>
    <message>
        <source>Borrado completo</source>
        <translation>Full Erase</translation>
    </message>
    <message>
        <source>Borrado completo (Normalmente no requerido)</source>
        <translation>Full erase (not normally needed)</translation>
    </message>
    <message>
        <source>Cargar</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>Cargar medio</source>
        <translation>Load the disc</translation>
    </message>
    <message>
        <source>Expulsar</source>
        <translation>Eject</translation>
    </message>
    <message>
        <source>Expulsar medio</source>
        <translation>Eject the disc</translation>
    </message>
    <message>
        <source>¿Listo?</source>
        <translation>Ready?</translation>
    </message>
    <message>
        <source>Esta la unidad lista...?</source>
        <translation>Is the drive ready...?</translation>
    </message>
    <message>
        <source>Acerca de...</source>
        <translation>About...</translation>
    </message>
    <message>
        <source>Crear ISO</source>
        <translation>Create ISO</translation>
    </message>
    <message>
        <source>Crear y guardar imagen .ISO</source>
        <translation>Create and save an .ISO image</translation>
    </message>
    <message>
        <source>Quemar ISO</source>
        <translation>Burn ISO</translation>
    </message>
    <message>
        <source>Iniciar Quemado</source>
        <translation>Start burning an image</translation>
    </message>
    <message>
        <source>Guardar ruta</source>
        <translation>Keep paths</translation>
    </message>
    <message>
        <source>Preservar la estrutura de directorios</source>
        <translation>Preserve the folder structure</translation>
    </message>
    <message>
        <source>Limpiar</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Remover</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Red</source>
        <translation>Network</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>Log</translation>
    </message>
    <message>
        <source>Limpiar Log</source>
        <translation>Clear Log</translation>
    </message>
    <message>
        <source> Progreso CD : </source>
        <translation> CD Progress: </translation>
    </message>
    <message>
        <source>Tamaño</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>100 % · 48x (8,467 KB/s) · quedan 00:00:00</source>
        <extracomment>The longest progress text, only measured: the label is made as wide as it.</extracomment>
        <translation>100 % · 48x (8,467 KB/s) · time left 00:00:00</translation>
    </message>
    <message>
        <source>Abortar</source>
        <translation>Abort</translation>
    </message>
    <message>
        <source>Abortar la operacion de escritura</source>
        <translation>Abort the write</translation>
    </message>
    <message>
        <source>Buffer : </source>
        <translation>Buffer: </translation>
    </message>
    <message>
        <source>Estado del buffer del sistema</source>
        <translation>System buffer level</translation>
    </message>
    <message>
        <source>Estado del buffer del dispositivo</source>
        <translation>Drive buffer level</translation>
    </message>
    <message>
        <source>Ruta de red</source>
        <translation>Network Path</translation>
    </message>
    <message>
        <source>Ingrese la ruta completa de la red (\\Maquina1\C)</source>
        <translation>Enter the full network path (\\Machine1\C)</translation>
    </message>
    <message>
        <source>Almenos un archivo/directorio deberia ser seleccionado.</source>
        <translation>At least one file or folder must be selected.</translation>
    </message>
    <message>
        <source>Agregando archivos y carpetas...</source>
        <translation>Adding files and folders...</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; AGREGAR ARCHIVOS/DIRECTORIOS CANCELADO</source>
        <translation>&gt;&gt;&gt; ADDING FILES/FOLDERS CANCELLED</translation>
    </message>
    <message>
        <source>Cancelar</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>SKIPING; ARCHIVO ESTA EN USO</source>
        <translation>SKIPPING; FILE IS IN USE</translation>
    </message>
    <message>
        <source>SKIPING; ES EL ARCHIVO ISO EN CONSTRUCCION</source>
        <translation>SKIPPING; IT IS THE ISO FILE BEING BUILT</translation>
    </message>
    <message>
        <source>SKIPING; NOMBRE ARCHIVO MAYOR DE 107</source>
        <translation>SKIPPING; FILE NAME LONGER THAN 107</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; SKIPING RECYCLE BIN</source>
        <translation>&gt;&gt;&gt; SKIPPING RECYCLE BIN</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; SKIPING ARCHIVOS CON NOMBRES INVALIDOS (LENGTH OF FILE NAME MUST BE LESS THAN 64)</source>
        <translation>&gt;&gt;&gt; SKIPPING FILES WITH INVALID NAMES (LENGTH OF FILE NAME MUST BE LESS THAN 64)</translation>
    </message>
    <message>
        <source>Contruir ISO</source>
        <translation>Build ISO</translation>
    </message>
    <message>
        <source>Archivos .ISO (*.iso *.ISO)</source>
        <translation>.ISO files (*.iso *.ISO)</translation>
    </message>
    <message>
        <source>Todos los archivos (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>El archivo %1 ya existe; lo que tiene se perdera.</source>
        <translation>The file %1 already exists; what it holds will be lost.</translation>
    </message>
    <message>
        <source>¿Reemplazar el archivo?</source>
        <translation>Replace the file?</translation>
    </message>
    <message>
        <source>%1 es un directorio.</source>
        <translation>%1 is a folder.</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; AGREGAR ARCHIVOS/DIRECTORIOS AL ISO FINALIZO</source>
        <translation>&gt;&gt;&gt; ADDING FILES/FOLDERS TO THE ISO FINISHED</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; INICIO CONSTRUCCION ARCHIVO ISO</source>
        <translation>&gt;&gt;&gt; BUILDING THE ISO FILE</translation>
    </message>
    <message>
        <source>Fornax, grabacion de discos de datos</source>
        <translation>Fornax, data disc burning</translation>
    </message>
    <message>
        <source>Hecho en Linux por el equipo de Fornax</source>
        <translation>Made on Linux by the Fornax team</translation>
    </message>
    <message>
        <source>Error inicializando capa ASPI, Por favor pongase en contacto con el administrador %1</source>
        <translation>Error initializing the ASPI layer. Please contact the administrator %1</translation>
    </message>
    <message>
        <source>  Unidad :</source>
        <translation>  Drive:</translation>
    </message>
    <message>
        <source>Unidad %1:</source>
        <translation>Drive %1:</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; AGREGAR ARCHIVOS/DIRECTORIOS AL CD/DVD FINALIZADO</source>
        <translation>&gt;&gt;&gt; ADDING FILES/FOLDERS TO THE CD/DVD FINISHED</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; NADA PARA QUEMAR, ABORTANDO...</source>
        <translation>&gt;&gt;&gt; NOTHING TO BURN, ABORTING...</translation>
    </message>
    <message>
        <source>La compilacion no cabe en el disco: necesita %1 y solo quedan %2 libres (desde el sector %3).</source>
        <translation>The compilation does not fit on the disc: it needs %1 and only %2 are free (from sector %3).</translation>
    </message>
    <message>
        <source>Se escribiran %1 (quedan %2 libres en el disco).</source>
        <translation>%1 will be written (%2 will stay free on the disc).</translation>
    </message>
    <message>
        <source>¿Quieres quemar el CD/DVD?</source>
        <translation>Do you want to burn the CD/DVD?</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; INICIO DE QUEMADO DE DC/DVD </source>
        <translation>&gt;&gt;&gt; STARTING CD/DVD BURN ON </translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; INICIANDO QUEMADO ISO IMAGE ON </source>
        <translation>&gt;&gt;&gt; STARTING ISO IMAGE BURN ON </translation>
    </message>
    <message>
        <source>El disco no es borrable</source>
        <translation>The disc is not erasable</translation>
    </message>
    <message>
        <source>Toda la data en el disco se perdera</source>
        <translation>All data on the disc will be lost</translation>
    </message>
    <message>
        <source>¿Desea iniciar eliminado rapido?</source>
        <translation>Do you want to start a quick erase?</translation>
    </message>
    <message>
        <source>Disco no es borrable</source>
        <translation>The disc is not erasable</translation>
    </message>
    <message>
        <source>Toda la data en el CD sera borrado</source>
        <translation>All data on the CD will be erased</translation>
    </message>
    <message>
        <source>¿Deseas limpiar el disco...? (puede tomar 10-70 min)</source>
        <translation>Do you want to erase the whole disc...? (it may take 10-70 min)</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; COMANDO DE CARGADO DE MEDIO REALIZADO.</source>
        <translation>&gt;&gt;&gt; LOAD DISC COMMAND DONE.</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; COMANDO DE EXPULSION DE MEDIO REALIZADO.</source>
        <translation>&gt;&gt;&gt; EJECT DISC COMMAND DONE.</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; COMANDO DE EXPULSION DE MEDIO FALLO.</source>
        <translation>&gt;&gt;&gt; EJECT DISC COMMAND FAILED.</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; DRIVE ESTA LISTO</source>
        <translation>&gt;&gt;&gt; DRIVE IS READY</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; DRIVE NO ESTA LISTO </source>
        <translation>&gt;&gt;&gt; DRIVE IS NOT READY </translation>
    </message>
    <message>
        <source>Borrando: %1 %</source>
        <translation>Erasing: %1 %</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; PROCESO QUEMADO FINALIZO CON ERROR</source>
        <translation>&gt;&gt;&gt; BURN FINISHED WITH AN ERROR</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; PROCESO QUEMADO FINALIZO</source>
        <translation>&gt;&gt;&gt; BURN FINISHED</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; PROCESO DE BORRAO FINALIZADO CON ERROR</source>
        <translation>&gt;&gt;&gt; ERASE FINISHED WITH AN ERROR</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; PROCESO DE BORRAO FINALIZADO</source>
        <translation>&gt;&gt;&gt; ERASE FINISHED</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; FINALIZANDO TRACK</source>
        <translation>&gt;&gt;&gt; CLOSING TRACK</translation>
    </message>
    <message>
        <source>La unidad esta borrando el disco; termina sola y Fornax se cierra despues.</source>
        <translation>The drive is erasing the disc; it finishes on its own and Fornax closes afterwards.</translation>
    </message>
    <message>
        <source>Se abortara la escritura en curso; Fornax se cierra cuando la unidad quede lista.</source>
        <translation>The running write will be aborted; Fornax closes once the drive is ready.</translation>
    </message>
    <message>
        <source>¿Cerrar Fornax ahora?</source>
        <translation>Close Fornax now?</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; CERRANDO: ESPERANDO A QUE LA UNIDAD TERMINE</source>
        <translation>&gt;&gt;&gt; CLOSING: WAITING FOR THE DRIVE TO FINISH</translation>
    </message>
    <message>
        <source>La imagen ISO</source>
        <translation>The ISO image</translation>
    </message>
    <message>
        <source>La grabacion</source>
        <translation>The burn</translation>
    </message>
    <message>
        <source>%1 no termino bien:
%2</source>
        <translation>%1 did not finish successfully:
%2</translation>
    </message>
    <message>
        <source>%1 termino bien.</source>
        <translation>%1 finished successfully.</translation>
    </message>
    <message>
        <source>... y %1 mas</source>
        <translation>... and %1 more</translation>
    </message>
    <message>
        <source>%1 termino, pero %2 %3 fuera:
%4</source>
        <translation>%1 finished, but %2 %3 out:
%4</translation>
    </message>
    <message>
        <source>entrada quedo</source>
        <translation>entry was left</translation>
    </message>
    <message>
        <source>entradas quedaron</source>
        <translation>entries were left</translation>
    </message>
    <message>
        <source>&gt;&gt;&gt; VERIFICANDO: LEYENDO EL DISCO GRABADO</source>
        <translation>&gt;&gt;&gt; VERIFYING: READING THE WRITTEN DISC</translation>
    </message>
    <message>
        <source>Verificando el disco grabado...</source>
        <translation>Verifying the written disc...</translation>
    </message>
    <message>
        <source>La verificacion no pudo leer el disco:
%1</source>
        <translation>The verify could not read the disc:
%1</translation>
    </message>
    <message>
        <source>Verificacion: los %1 sectores coinciden con la imagen.</source>
        <translation>Verify: all %1 sectors match the image.</translation>
    </message>
    <message>
        <source>Verificacion: los sectores %1 no coinciden con la imagen.</source>
        <translation>Verify: sectors %1 do not match the image.</translation>
    </message>
    <message>
        <source>Verificacion: %1 archivos verificados, todos coinciden con el disco.</source>
        <translation>Verify: %1 files verified, all match the disc.</translation>
    </message>
    <message>
        <source>Verificacion: %1 archivos verificados; %2 con problemas:
%3</source>
        <translation>Verify: %1 files verified; %2 with problems:
%3</translation>
    </message>
</context>
<context>
    <name>fornax::app::TfrmSessions</name>
    <message>
        <source>     Error obteniendo informaciond e sesion</source>
        <translation>     Error reading the session information</translation>
    </message>
    <message>
        <source>Disco Estado Desconocido</source>
        <translation>Disc State Unknown</translation>
    </message>
    <message>
        <source>Disco Cerrado/Finalizado</source>
        <translation>Disc Closed/Finalized</translation>
    </message>
    <message>
        <source>Disco esta Abierto</source>
        <translation>Disc is Open</translation>
    </message>
    <message>
        <source>Informacion Disco &amp; Sesiones</source>
        <translation>Disc &amp; Session Information</translation>
    </message>
    <message>
        <source>Medio  :</source>
        <translation>Medium:</translation>
    </message>
    <message>
        <source>Tamaño disco  :</source>
        <translation>Disc size:</translation>
    </message>
    <message>
        <source>Espacio usado  :</source>
        <translation>Used space:</translation>
    </message>
    <message>
        <source>Espacio libre  :</source>
        <translation>Free space:</translation>
    </message>
    <message>
        <source> Numero     Inicio     Tamaño</source>
        <extracomment>Above the rows of sessions, in a fixed-width font: each word starts where its column does.</extracomment>
        <translation> Number     Start      Size</translation>
    </message>
    <message>
        <source>Mostrar Archivos</source>
        <translation>Show Files</translation>
    </message>
    <message>
        <source>Cerrar</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>,  Sesiones : </source>
        <translation>,  Sessions: </translation>
    </message>
    <message>
        <source>Seleccione sesion de la lista</source>
        <translation>Select a session from the list</translation>
    </message>
</context>
<context>
    <name>fornax::app::TfrmSettings</name>
    <message>
        <source>&apos;%1&apos; is not a valid integer value</source>
        <translation>&apos;%1&apos; is not a valid integer value</translation>
    </message>
    <message>
        <source>&apos;%1&apos; no es un numero de sesion valido: -1 para la ultima, 0 para ninguna o de 1 a 255</source>
        <translation>&apos;%1&apos; is not a valid session number: -1 for the last one, 0 for none, or 1 to 255</translation>
    </message>
    <message>
        <source>Opciones avanzadas</source>
        <translation>Advanced Options</translation>
    </message>
    <message>
        <source>Etiqueta volumen :</source>
        <translation>Volume label:</translation>
    </message>
    <message>
        <source>Sistema de archivos Joliet</source>
        <translation>Joliet file system</translation>
    </message>
    <message>
        <source>Long File Name</source>
        <translation>Long File Name</translation>
    </message>
    <message>
        <source>Cerrar disco (al finalizar)</source>
        <translation>Close disc (when finished)</translation>
    </message>
    <message>
        <source>Importar Sesion</source>
        <translation>Import Session</translation>
    </message>
    <message>
        <source>Session Number to Import; for Last Session enter -1</source>
        <translation>Session Number to Import; for Last Session enter -1</translation>
    </message>
    <message>
        <source>Proteccion Underrun</source>
        <translation>Underrun Protection</translation>
    </message>
    <message>
        <source>Test de escritura</source>
        <translation>Test write</translation>
    </message>
    <message>
        <source>Expulsar despues de Escribir/Borrar</source>
        <translation>Eject after Write/Erase</translation>
    </message>
    <message>
        <source>Perform OPC</source>
        <translation>Perform OPC</translation>
    </message>
    <message>
        <source>Salvado rapido .ISO</source>
        <translation>Quick .ISO save</translation>
    </message>
    <message>
        <source>Mostar archivos antes de quemar</source>
        <translation>Show files before burning</translation>
    </message>
    <message>
        <source>Archivar archivos solos &amp;&amp; Limpiar Bit de Archivos</source>
        <translation>Archive files only &amp;&amp; Clear Archive Bit</translation>
    </message>
    <message>
        <source>Bootable</source>
        <translation>Bootable</translation>
    </message>
    <message>
        <source>Tamaño de Cache :</source>
        <translation>Cache size:</translation>
    </message>
    <message>
        <source>Cerrar Track</source>
        <translation>Close Track</translation>
    </message>
    <message>
        <source>&amp;Aceptar</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancelar</source>
        <translation>&amp;Cancel</translation>
    </message>
    <message>
        <source>All Image Files (*.IMG *.IMA *.BIN *.img *.ima *.bin)</source>
        <translation>All Image Files (*.IMG *.IMA *.BIN *.img *.ima *.bin)</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <translation>All Files (*)</translation>
    </message>
    <message>
        <source>Sesion a importar; Zero significa que no hay sesiones para importar</source>
        <translation>Session to import: zero means there is no session to import</translation>
    </message>
    <message>
        <source>Verificar despues de quemar</source>
        <translation>Verify after burning</translation>
    </message>
    <message>
        <source>Lee el disco grabado y lo compara con lo que se envio</source>
        <translation>Reads the written disc back and compares it with what was sent</translation>
    </message>
    <message>
        <source>Rock Ridge (permisos y enlaces de Linux)</source>
        <translation>Rock Ridge (Linux permissions and links)</translation>
    </message>
    <message>
        <source>Guarda permisos, propietarios, fechas, nombres largos y enlaces simbolicos (los enlaces se graban como enlaces, sin seguirlos)</source>
        <translation>Keeps permissions, owners, dates, long names and symbolic links (links are recorded as links, not followed)</translation>
    </message>
</context>
<context>
    <name>fornax::app::TfrmSplash</name>
    <message>
        <source>Grabacion de CD y DVD de datos</source>
        <translation>Data CD and DVD burning</translation>
    </message>
    <message>
        <source>Version 1.4.2</source>
        <translation>Version 1.4.2</translation>
    </message>
</context>
<context>
    <name>fornax::app::TfrmTree</name>
    <message>
        <source>el nombre no sirve como nombre de archivo local</source>
        <translation>the name cannot be used as a local file name</translation>
    </message>
    <message>
        <source>No se pudo extraer %1: %2</source>
        <translation>Could not extract %1: %2</translation>
    </message>
    <message>
        <source>ya existe como enlace simbolico</source>
        <translation>already exists as a symbolic link</translation>
    </message>
    <message>
        <source>ya existe como carpeta</source>
        <translation>already exists as a folder</translation>
    </message>
    <message>
        <source>ya existe y no es un archivo comun</source>
        <translation>already exists and is not a regular file</translation>
    </message>
    <message>
        <source>error de lectura</source>
        <translation>read error</translation>
    </message>
    <message>
        <source>
    ... y %1 mas</source>
        <translation>
    ... and %1 more</translation>
    </message>
    <message>
        <source>¿Reemplazar el archivo que ya existe?</source>
        <translation>Replace the existing file?</translation>
    </message>
    <message>
        <source>¿Reemplazar los %1 archivos que ya existen?</source>
        <translation>Replace the %1 existing files?</translation>
    </message>
    <message>
        <source>%1 ya existe.

Si: se reemplaza por el del disco.
No: no se extrae.</source>
        <translation>%1 already exists.

Yes: it is replaced by the one on the disc.
No: it is not extracted.</translation>
    </message>
    <message>
        <source>En %1 ya existen %2 de los %3 archivos:</source>
        <translation>%2 of the %3 files already exist in %1:</translation>
    </message>
    <message>
        <source>

Si: se reemplazan por los del disco.
No: se extraen solo los archivos que aun no existen; los existentes no se tocan.</source>
        <translation>

Yes: they are replaced by the ones on the disc.
No: only the files that do not exist yet are extracted; the existing ones are left untouched.</translation>
    </message>
    <message>
        <source>Archivos extraidos: %1</source>
        <translation>Files extracted: %1</translation>
    </message>
    <message>
        <source>
No extraidos porque ya existen: %1</source>
        <translation>
Not extracted because they already exist: %1</translation>
    </message>
    <message>
        <source>
No extraidos por error: %1
</source>
        <translation>
Not extracted because of an error: %1
</translation>
    </message>
    <message>
        <source>Visor de Archivos, Directorios y Estractor (Doble Click sobre un archivo para extraer)</source>
        <translation>Files, Folders and Extractor (double-click a file to extract it)</translation>
    </message>
    <message>
        <source>Nombre archivo</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>Tamaño</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>No puedes extraer directorio, </source>
        <translation>You cannot extract a folder: </translation>
    </message>
    <message>
        <source> es un directorio</source>
        <translation> is a folder</translation>
    </message>
    <message>
        <source>Extraer archivo</source>
        <translation>Extract File</translation>
    </message>
    <message>
        <source>Todos los archivos (*)</source>
        <translation>All files (*)</translation>
    </message>
    <message>
        <source>Extraer archivos</source>
        <translation>Extract Files</translation>
    </message>
    <message>
        <source>La carpeta &quot;</source>
        <translation>The folder &quot;</translation>
    </message>
    <message>
        <source>&quot; no existe</source>
        <translation>&quot; does not exist</translation>
    </message>
    <message>
        <source>Extraendo </source>
        <translation>Extracting </translation>
    </message>
</context>
</TS>
